// Headers nearly every source of the window library includes, compiled once per build.
#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTableView>
#include <QVBoxLayout>
#include <QWidget>
#include <functional>
#include <memory>
