#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace bw {

// The answer to a question that offers a choice between two changes. None is no answer (Escape, the close box,
// "later", or the window closing meanwhile): both sides stay as they are.
enum class Answer { Yes, No, None };

// What the main window asks of the desktop: its dialogs, its error box and the shell. The program uses the
// system's own (TSystemDesktop); tests put an answering one in its place.
class TDesktop {
public:
    virtual ~TDesktop() = default;

    // The modal "Confirm" question; true only when the user answers Yes.
    virtual bool Confirm(HWND owner, const std::wstring& question) = 0;
    // The same question with "No" as its default, for a change the user should not make by a hasty Enter.
    virtual bool ConfirmDefaultNo(HWND owner, const std::wstring& question) = 0;

    // The file-open dialog for a program to add; nothing when the user cancels.
    virtual std::optional<std::wstring> BrowseForProgram(HWND owner) = 0;

    virtual void ShowError(HWND owner, const std::wstring& title, const std::wstring& text) = 0;

    // The shell's property sheet of a file.
    virtual void ShowProperties(HWND owner, const std::wstring& file) = 0;

    // The default action of the shell on a file; returns what the shell returns (above 32 on success).
    virtual INT_PTR OpenWithShell(HWND owner, const std::wstring& file, const std::wstring& parameters,
                                  const std::wstring& folder, int showCommand) = 0;

    // The following have a default that does nothing, so that a desktop that needs none of them says nothing
    // of them.

    // A question between two changes, `yes` and `no`, with a third button, "later", the default: nothing is chosen
    // unless the user chooses.
    virtual Answer Choose(HWND, const std::wstring&, const wchar_t*, const wchar_t*) { return Answer::None; }

    // Shows a pop-up menu at `screenPoint` and returns the command the user chose; 0 when none.
    virtual UINT ChooseFromMenu(HWND owner, HMENU menu, POINT screenPoint);

    // Opens the folder of `path` in the shell's file window with `path` selected.
    virtual void ShowInFolder(HWND owner, const std::wstring& path);

    // Opens the Registry Editor at `key` ("Computer\HKEY_CURRENT_USER\..."): where it opens is the key its own
    // setting names, written just before it starts.
    virtual void OpenRegistryEditor(HWND owner, const std::wstring& key);

    // Puts `text` on the clipboard as Unicode text.
    virtual void CopyText(HWND owner, const std::wstring& text);
    // Starts `program` anew with `parameters` and an administrator's rights (the shell's "runas" verb: the UAC
    // prompt), with `folder` as its current folder; true when it started, false when it did not (the user
    // declined). A desktop that cannot start programs starts none.
    virtual bool RunAsAdministrator(HWND, const std::wstring&, const std::wstring&, const std::wstring&) {
        return false;
    }
};

class TSystemDesktop : public TDesktop {
public:
    bool Confirm(HWND owner, const std::wstring& question) override;
    bool ConfirmDefaultNo(HWND owner, const std::wstring& question) override;
    std::optional<std::wstring> BrowseForProgram(HWND owner) override;
    void ShowError(HWND owner, const std::wstring& title, const std::wstring& text) override;
    void ShowProperties(HWND owner, const std::wstring& file) override;
    INT_PTR OpenWithShell(HWND owner, const std::wstring& file, const std::wstring& parameters,
                          const std::wstring& folder, int showCommand) override;
    Answer Choose(HWND owner, const std::wstring& question, const wchar_t* yes, const wchar_t* no) override;
    UINT ChooseFromMenu(HWND owner, HMENU menu, POINT screenPoint) override;
    void ShowInFolder(HWND owner, const std::wstring& path) override;
    void OpenRegistryEditor(HWND owner, const std::wstring& key) override;
    void CopyText(HWND owner, const std::wstring& text) override;
    bool RunAsAdministrator(HWND owner, const std::wstring& program, const std::wstring& folder,
                            const std::wstring& parameters) override;
};

// The error box's title: the executable's file name without its folder, cut at its first ".", every
// character after the first in lower case ("C:\Tools\BootWarden.exe" gives "Bootwarden").
std::wstring ApplicationTitle(const std::wstring& executablePath);

// The error box's text: the message, with a full stop appended when its last character sorts after ".".
std::wstring ErrorBoxText(const std::wstring& message);

// The modal confirmation dialog: caption "Confirm", a question-mark icon, the question, "&Yes" and "&No" (also
// Escape and closing), `defaultButton` (IDYES or IDNO) the default with the focus. Centred on the screen. Returns
// IDYES or IDNO.
int ShowConfirmDialog(HWND owner, const std::wstring& question, int defaultButton = IDYES);

// The same dialog with the buttons `yes`, `no` and "Decide later", the last the default. Returns IDYES, IDNO, or
// IDCANCEL for "later", Escape and closing.
int ShowChoiceDialog(HWND owner, const std::wstring& question, const wchar_t* yes, const wchar_t* no);

// Ends every dialog that `owner` owns (a question, a message box, the file-open dialog) and any pop-up menu, as
// Escape would: the window is closing, and closing is no answer.
void EndQuestions(HWND owner);

} // namespace bw
