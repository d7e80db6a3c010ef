#include "MainViewController.h"

#include "ui_MainView.h"

MainViewController::MainViewController(QObject* parent) : QObject(parent) {}

MainViewController::~MainViewController()
{
    delete view_.data();
}

QWidget* MainViewController::view()
{
    if (!view_) {
        view_ = new QWidget;
        ui_ = std::make_unique<Ui::MainView>();
        ui_->setupUi(view_);
        viewDidLoad();
    }
    return view_;
}

void MainViewController::viewDidLoad() {}
