// SPDX-License-Identifier: GPL-3.0-or-later
// The publishing tests' subscriber, built here too, so that one client serves both suites.
#include "publish/Subscriber.cpp"
