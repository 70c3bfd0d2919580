#include "ui/Guarded.h"

#include "base/Error.h"
#include "ui/Dialogs.h"

#include <exception>

void runGuarded(const std::function<void()> &action) {
    try {
        action();
    } catch (const Error &error) {
        showErrorMessage(error.message());
    } catch (const std::exception &error) {
        showErrorMessage(QString::fromLocal8Bit(error.what()));
    }
}
