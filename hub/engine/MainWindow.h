// The hub's visible main window (dialog 105), as the message window sees it: it comes and goes
// while the hub runs. The window itself is built by the user interface; the engine only asks
// whether it exists, opens and closes it, and tells it about a new line speed.
#pragma once

namespace tavro {

class MainWindow {
public:
    virtual ~MainWindow() = default;

    virtual bool Exists() const = 0;
    // Creates the window, owned by the message window. Nothing happens when it exists.
    virtual void Create() = 0;
    // Destroys the window (which saves the settings). Nothing happens when it does not exist.
    virtual void Destroy() = 0;
    // Message 1027 (wParam 0, lParam 0): a requested speed has become the "Baud" setting.
    // Only called while the window exists.
    virtual void PostBaudChanged() = 0;
};

// For front ends that have no main window yet, and for runs without a desktop: never exists,
// so every request is dropped.
class NoMainWindow final : public MainWindow {
public:
    bool Exists() const override { return false; }
    void Create() override {}
    void Destroy() override {}
    void PostBaudChanged() override {}
};

} // namespace tavro
