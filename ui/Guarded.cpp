#include "ui/Guarded.h"

#include "app/Errors.h"
#include "ui/Dialogs.h"

#include <exception>

void RunGuarded(const std::function<void()> &action) {
    try {
        action();
    } catch (const EPelorvane &error) {
        ShowErrorMessage(error.Message());
    } catch (const std::exception &error) {
        ShowErrorMessage(QString::fromLocal8Bit(error.what()));
    }
}
