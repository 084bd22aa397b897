// A service's menus as its clients build them: menus opened and closed,
// blocks of command records added, listening switched. Whatever comes, no
// menu holds more than its limits, Add grows a menu by exactly the count it
// reports (or leaves it alone), and every menu publishes as a MENU line the
// hub takes back unchanged: a service whose line the hub refused would be
// dropped and would publish it again, for ever.
//
// Input: operations, each an opcode byte and what it reads.
//   0 open   flags, then two names (a length byte, at most 31 bytes each)
//   1 close  id, flags (bit 0: the last holder)
//   2 add    id, count, a 16-bit little-endian size, then the block
//   3 switch flags (bit 0 enabled, 1 awake, 2 the menu id's active)
//   4 say    a length byte, then the phrase
#include "tests/fuzz/fuzz.h"
#include "voiced/core/servicecore.h"
#include <algorithm>

namespace {

struct Input {
    const uint8_t *at, *end;
    uint8_t Byte() { return at < end ? *at++ : 0; }
    std::string Text(size_t most)
    {
        const size_t size = std::min<size_t>({Byte(), most, size_t(end - at)});
        std::string text(reinterpret_cast<const char *>(at), size);
        at += size;
        text.erase(std::remove(text.begin(), text.end(), '\0'), text.end()); // a C string's
        return text;
    }
};

void Add(ServiceCore &core, Input &in)
{
    const uint32_t id = in.Byte();
    const uint32_t count = in.Byte();
    size_t size = in.Byte();
    size |= size_t(in.Byte()) << 8;
    size = std::min<size_t>(size, in.end - in.at);
    const ServiceMenu *menu = core.Menu(id);
    const size_t before = menu ? menu->commands.size() : 0;
    uint32_t first = 0;
    const int added = core.Add(id, in.at, size, count, &first);
    in.at += size;
    Require(added == 0 || menu, "a command added to no menu");
    if (!menu)
        return;
    const size_t after = menu->commands.size();
    if (added) {
        Require(first == before + 1, "the first new command's number is wrong");
        Require(after == before + count, "the menu grew by other than the count");
    } else {
        Require(after == before, "a refused block changed the menu");
    }
}

void Check(const ServiceCore &core)
{
    Require(core.Menus().size() <= MaxServiceMenus, "too many menus");
    for (const auto &menu : core.Menus()) {
        Require(menu->commands.size() <= MaxMenuCommands, "a menu with too many commands");
        const MenuNotice notice = core.Notice(*menu);
        const std::string line = FormatMenuNotice(notice);
        Require(line.size() <= MaxChannelLine + 1, "a MENU line longer than the hub reads");
        ChannelMessage message;
        MenuNotice read;
        Require(ParseChannelLine(line.substr(0, line.size() - 1), &message) &&
                    ParseMenuNotice(message, &read),
                "a MENU line the hub refuses");
        Require(read.id == notice.id && read.phrases == notice.phrases &&
                    read.application.size() == notice.application.size() &&
                    read.state.size() == notice.state.size() && read.listening == notice.listening,
                "a MENU line the hub reads otherwise");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ServiceCore core;
    Input in{data, data + size};
    while (in.at < in.end) {
        switch (in.Byte() % 5) {
        case 0: {
            const bool temporary = in.Byte() & 1;
            const std::string application = in.Text(MaxNameLength);
            const std::string state = in.Text(MaxNameLength);
            core.OpenMenu(application, state, 0x409, "", temporary);
            break;
        }
        case 1: {
            const uint32_t id = in.Byte();
            core.CloseMenu(id, in.Byte() & 1);
            break;
        }
        case 2: Add(core, in); break;
        case 3: {
            const uint8_t flags = in.Byte();
            core.enabled = flags & 1;
            core.awake = flags & 2;
            if (ServiceMenu *menu = core.Menu(in.Byte()))
                menu->active = flags & 4;
            break;
        }
        default: {
            const Recognition heard = core.Recognise(in.Text(255));
            Require(heard.outcome != Outcome::Ran || core.Listening(), "ran while not listening");
            break;
        }
        }
        Check(core);
    }
    return 0;
}
