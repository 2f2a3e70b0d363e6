// Where MessageBoxW shows its boxes.
//
// A process chooses a presenter once at start-up: a program with windows installs one that shows
// a real dialog, a test installs a RecordingPresenter. Until then (and after
// setMessageBoxPresenter(nullptr)) the console presenter writes the caption and the text to
// standard error and answers with the box's default button.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sky/export.h"
#include "win/types.h"
#include "win/winuser.h"

namespace sky {

class SKY_API MessageBoxPresenter {
public:
    // Shows a box and returns the button chosen (IDOK, IDYES, ...). type is MessageBoxW's uType:
    // buttons, icon (type & MB_ICONMASK), default button, modality and options.
    virtual int show(HWND owner, std::u16string_view text, std::u16string_view caption,
                     UINT type) = 0;

protected:
    ~MessageBoxPresenter() = default;
};

// Installs a presenter for the whole process and returns the one it replaces (null when that was
// the console presenter). The caller keeps ownership and must keep it alive while installed.
SKY_API MessageBoxPresenter* setMessageBoxPresenter(MessageBoxPresenter* presenter);

// The buttons of a box, left to right (IDOK, IDCANCEL, ...); empty for an unknown button set.
SKY_API std::vector<int> messageBoxButtons(UINT type);
// The answer a box gives when its default button is taken (MB_DEFBUTTON1..4; a default beyond the
// last button falls back to the first).
SKY_API int messageBoxDefaultButton(UINT type);

// Writes "caption" and then the text to standard error (line ends as the terminal expects) and
// answers with the default button.
class SKY_API ConsoleMessageBoxPresenter final : public MessageBoxPresenter {
public:
    int show(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override;
};

// Records every box and answers with a chosen button (0: the box's default button).
class SKY_API RecordingPresenter final : public MessageBoxPresenter {
public:
    struct Box {
        HWND owner;
        UINT icon; // type & MB_ICONMASK
        UINT type;
        std::u16string caption;
        std::u16string text;
    };

    explicit RecordingPresenter(int answer = 0) : answer_(answer) {}

    int show(HWND owner, std::u16string_view text, std::u16string_view caption,
             UINT type) override {
        std::lock_guard lock(mutex_);
        boxes_.push_back(
            Box{owner, type & MB_ICONMASK, type, std::u16string(caption), std::u16string(text)});
        return answer_ ? answer_ : messageBoxDefaultButton(type);
    }

    void answerWith(int answer) {
        std::lock_guard lock(mutex_);
        answer_ = answer;
    }
    std::vector<Box> boxes() const {
        std::lock_guard lock(mutex_);
        return boxes_;
    }

private:
    mutable std::mutex mutex_;
    int answer_;
    std::vector<Box> boxes_;
};

// Installs a presenter for a scope and puts the previous one back at its end.
class SKY_API ScopedMessageBoxPresenter {
public:
    explicit ScopedMessageBoxPresenter(MessageBoxPresenter& presenter)
        : previous_(setMessageBoxPresenter(&presenter)) {}
    ~ScopedMessageBoxPresenter() { setMessageBoxPresenter(previous_); }
    ScopedMessageBoxPresenter(const ScopedMessageBoxPresenter&) = delete;
    ScopedMessageBoxPresenter& operator=(const ScopedMessageBoxPresenter&) = delete;

private:
    MessageBoxPresenter* previous_;
};

} // namespace sky
