#pragma once
// The controller of the main screen.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace Ui {
class MainView;
}

class MainViewController : public QObject {
    Q_OBJECT
public:
    explicit MainViewController(QObject* parent = nullptr);
    ~MainViewController() override;

    // The screen, loaded from "MainView" on first use; loading runs viewDidLoad.
    QWidget* view();
    void viewDidLoad();

private:
    std::unique_ptr<Ui::MainView> ui_;
    QPointer<QWidget> view_; // owned by the window once shown
};
