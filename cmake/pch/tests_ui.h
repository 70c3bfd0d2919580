// The tests' common headers and those of nearly every window test, compiled once for them.
#include "tests.h"
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
