// The log category of the events the connector's log file keeps for the clinic's IT staff.
#include "platform/connectorlog.h"

Q_LOGGING_CATEGORY(connectorLog, "sanvero.log")
