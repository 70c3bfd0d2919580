#include "ui/Images.h"

#include <QHash>

QIcon RoleIcon(TImageRole role) {
    static QHash<int, QIcon> cache;
    auto found = cache.constFind(int(role));
    if (found != cache.constEnd())
        return *found;
    QIcon icon(ImageRolePath(role));
    cache.insert(int(role), icon);
    return icon;
}
