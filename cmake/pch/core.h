// Headers nearly every source of the core library includes, compiled once per build.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
