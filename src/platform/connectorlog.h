// The log category of the events the connector's log file keeps for the clinic's IT staff.
#pragma once

#include <QLoggingCategory>

/// "sanvero.log": what happened, with frame codes and the reasons of errors, and never a patient value.
/// The application writes these messages to its log file as well as to the debug output; every layer may
/// use it, so a message is logged where its reason is known.
Q_DECLARE_LOGGING_CATEGORY(connectorLog)
