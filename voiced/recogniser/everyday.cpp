// The everyday words the recogniser hears in place of a command's.
#include "voiced/recogniser/recogniser.h"
#include <sstream>

// The 500 likeliest words of the general language model that ships with the
// acoustic model (en-us.lm.bin, by their single-word probability) among
// those its dictionary pronounces, less an oath: chosen by that rank alone,
// not by the benchmark's phrases.
std::vector<std::string> RecogniserEverydayWords()
{
    std::istringstream in(
        "the to i and a of you that in it is for but know was have they on like be not it's "
        "so with are one this he yeah just my we as what if do at or don't about i'm all "
        "think there would from two me people can your get out no that's said up more when "
        "an had right well hundred really has thousand will oh because how time them she "
        "been by some who their his were now then go good mean than going her see could much "
        "other you're five got three even too only want did him something very where here "
        "way which nine lot make say first years back any new our also over into ah i've "
        "they're year thing still four should work things those take us most didn't why "
        "these never twenty there's need after being can't okay little down kind point "
        "actually many day off come same six before last he's look sure eight money doing "
        "pretty around seven always guess life dollars long yes better probably every we're "
        "world does anything maybe school great find doesn't though made big feel through "
        "thirty cause game old put use different stuff ten home may might used am thought "
        "while best since man love own getting another fifty few bad give part percent live "
        "family i'll tell ever gonna again went someone help i'd keep everything try play "
        "hard done enough trying next end away its place far forty talk ninety both real "
        "says country kids times least person bit such million high exactly what's isn't "
        "told nothing friends believe let call having able show else watch ago job nice "
        "start once whole house government problem looking change children each without days "
        "found true saying between less week she's seen already wouldn't makes guy course "
        "care name second came sixty pay wasn't talking until making seems eighty thanks "
        "either idea seventy read yet definitely team working city mr wanted left remember "
        "huh fact night business months state number against called half public understand "
        "everyone whatever er almost run friend case took sometimes today must sorry god "
        "important wrong started heard haven't couple minutes hi set reason question system "
        "together car games women war hope states hey stop happened thank guys coming sort "
        "small won't fun hear york under let's quite during agree free wow buy close past "
        "food top anyone hours you've saw side news kinda myself cool mind thinking company "
        "deal whether comes happen interesting looks gets later taking young parents phone "
        "ask stay matter please we've united especially power health area american rather "
        "move open usually goes line fifteen sense using men wait story means couldn't "
        "however somebody fine leave become playing lost level water living full often t "
        "head funny yourself instead group college zero happy president easy ones others "
        "knew post month hit seem supposed age needs room experience v asked computer "
        "support turn outside issue 'em eat given movie likely hand aren't white possible "
        "face market ");
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}
