// The application services: title, previous instance, program folder, argument text and
// the message box.
#pragma once

#include <string>

namespace p2 {

enum MessageStyle : int { kStyleCritical = 16, kStyleExclamation = 48 };

class Application {
  public:
    virtual ~Application() = default;
    // The caption of every message box that has none of its own.
    virtual void SetTitle(const std::string& title) = 0;
    // True only while another instance of this program runs.
    virtual bool PrevInstance() = 0;
    // The folder of the executable, without a trailing separator.
    virtual std::string ProgramFolder() = 0;
    // Everything after the program's own name.
    virtual std::string ArgumentText() = 0;
    // Modal: returns when the user has dismissed the box.
    virtual void MessageBox(const std::string& text, MessageStyle style) = 0;
};

}  // namespace p2
