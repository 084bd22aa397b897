// The voice hub as other programs find it: its program, beside theirs, and
// the title of its window. The hub's dialog (voiced/hub/feedback.rc) spells
// the same title as its caption: change both together.
#pragma once

constexpr char FeedbackProgram[] = "Feedback.exe";
constexpr char FeedbackWindowTitle[] = "Voice Commands Feedback";
