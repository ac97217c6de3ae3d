// orvelle.exe: one apartment-threaded COM (OLE) initialisation, the message
// filter for a busy Word, the main window and its message loop.  The program
// takes nothing from its command line.
#include "common/Automation.h"
#include "common/Failure.h"
#include "common/MessageBox.h"
#include "mainwindow/Form1.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Apartment-threaded, as Word's automation and the shell's folder dialog
    // need; through OLE, which includes it.
    OleScope ole;
    MessageFilterRegistration filter;
    Form1 form;
    try {
        form.Create(instance);
    } catch (const Failure& failure) {
        ShowMessageBox(nullptr, failure.description(), std::nullopt, MB_OK | MB_ICONERROR);
        return 1;
    }
    // Among the first programs told of a sign-out, restart or shut-down
    // (0x3FF: the top of the range Windows keeps for applications), so that
    // Word has not closed the documents yet.
    SetProcessShutdownParameters(0x3FF, 0);
    form.SetQuitOnDestroy(true);
    form.Form_Load();

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab and arrow keys move between the controls, as in a dialog.
        if (form.BackupsDialogMessage(msg) || IsDialogMessageW(form.hwnd(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
