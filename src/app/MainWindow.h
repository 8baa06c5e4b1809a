#pragma once

#include <QWidget>

#include <memory>

class QAbstractButton;
class QLineEdit;
class QProgressBar;

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

    QLineEdit *urlField() const;
    QAbstractButton *connectButton() const;
    QAbstractButton *cancelButton() const;
    QProgressBar *progressIndicator() const;

private:
    std::unique_ptr<Ui::MainWindow> m_ui;
};
