#pragma once

#include <QWidget>

#include <memory>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QProgressBar;

namespace Ui {
class MainWindow;
}

// The one window, laid out by MainWindow.ui: the URL field, the status line under it, Connect,
// Cancel and the busy indicator. Return in the field connects, Escape cancels; the rest of its
// behaviour is AppDelegate's.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    QLineEdit *urlField() const;
    QAbstractButton *connectButton() const;
    QAbstractButton *cancelButton() const;
    QProgressBar *progressIndicator() const;
    QLabel *statusLine() const;

private:
    std::unique_ptr<Ui::MainWindow> m_ui;
};
