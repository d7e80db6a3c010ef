// The main screen's two popovers: the session browser and the sample-rate settings.
#include "MainViewController.h"

void MainViewController::loadSessionButtonPressed() {}

void MainViewController::settingsButtonPressed() {}
