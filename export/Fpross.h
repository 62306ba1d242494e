#pragma once
// The export progress window: a small tool window with a caption and a bar
// that an export creates when it starts writing and destroys when it ends.
#include <QWidget>

class QCloseEvent;
class QLabel;
class QProgressBar;

class Tprocess : public QWidget {
    Q_OBJECT
public:
    explicit Tprocess(QWidget* parent = nullptr);

    QLabel* RxLabel1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

protected:
    // The window has no close box; Alt+F4 and the like must not take it away
    // while an export still writes to its bar.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

// The one progress window while an export runs, nullptr otherwise.
extern Tprocess* process;

// Creates the global window, shows it without making it modal and paints it
// at once, without handing control back to the message loop (the export
// must not see timer ticks or clicks while it writes). An existing window is
// destroyed first.
Tprocess* CreateProcessWindow(QWidget* parent = nullptr);
// Destroys the global window, if any, and clears `process`.
void DestroyProcessWindow();

// Keeps the progress window up for one export: created on construction,
// destroyed on every way out of the scope.
class ProcessWindowGuard {
public:
    explicit ProcessWindowGuard(QWidget* parent = nullptr) : window_(CreateProcessWindow(parent)) {}
    ~ProcessWindowGuard() { DestroyProcessWindow(); }
    ProcessWindowGuard(const ProcessWindowGuard&) = delete;
    ProcessWindowGuard& operator=(const ProcessWindowGuard&) = delete;

    Tprocess* window() const { return window_; }

private:
    Tprocess* window_;
};
