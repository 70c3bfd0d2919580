#include "ui/Images.h"

#include <QHash>

QIcon roleIcon(ImageRole role) {
    static QHash<int, QIcon> cache;
    auto found = cache.constFind(int(role));
    if (found != cache.constEnd())
        return *found;
    QIcon icon(imageRolePath(role));
    cache.insert(int(role), icon);
    return icon;
}
