#include "app/Errors.h"

EPelorvane::EPelorvane(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}
