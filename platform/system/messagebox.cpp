// MessageBoxW and the presenter it hands boxes to.
#include "sky/messagebox.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"

namespace sky {

namespace {

std::atomic<MessageBoxPresenter*> installed{nullptr};

MessageBoxPresenter& presenter() {
    static ConsoleMessageBoxPresenter console;
    MessageBoxPresenter* chosen = installed.load();
    return chosen ? *chosen : console;
}

// A box's text with its line ends (CR LF, or CR alone) as the terminal's LF.
std::string terminalText(std::u16string_view text) {
    std::u16string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            lines.push_back(u'\n');
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else {
            lines.push_back(text[i]);
        }
    }
    return narrow(lines);
}

} // namespace

MessageBoxPresenter* setMessageBoxPresenter(MessageBoxPresenter* presenter) {
    return installed.exchange(presenter);
}

std::vector<int> messageBoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OK:
        return {IDOK};
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE:
        return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default:
        return {};
    }
}

int messageBoxDefaultButton(UINT type) {
    const std::vector<int> buttons = messageBoxButtons(type);
    if (buttons.empty())
        return 0;
    const std::size_t index = (type & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons.front();
}

int ConsoleMessageBoxPresenter::show(HWND, std::u16string_view text, std::u16string_view caption,
                                     UINT type) {
    const std::string out = terminalText(caption) + "\n" + terminalText(text) + "\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
    return messageBoxDefaultButton(type);
}

} // namespace sky

extern "C" int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    if (sky::messageBoxButtons(uType).empty()) {
        SetLastError(ERROR_INVALID_MSGBOX_STYLE);
        return 0;
    }
    const std::u16string_view text = lpText ? std::u16string_view(lpText) : std::u16string_view();
    const std::u16string_view caption = lpCaption ? std::u16string_view(lpCaption) : u"Error";
    return sky::presenter().show(hWnd, text, caption, uType);
}
