#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class MainWindow;
}

// The one window, laid out by MainWindow.ui: the URL field, Connect, Cancel and the busy
// indicator. It has no behaviour of its own; AppDelegate drives it.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private:
    std::unique_ptr<Ui::MainWindow> m_ui;
};
