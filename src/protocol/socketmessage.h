// Numbers of every report the connector sends to the operator's page.
#pragma once

#include <QMetaType>

/// Carried as a plain JSON integer in the "error" or "message" key of a frame.
/// 1..100 are shared by the routing and both bridges, 1000..1012 belong to the
/// audiometry bridge, 2000..2012 to the polysomnography bridge.
enum SocketMessage
{
    MISSING_COMMAND = 1,
    INVALID_ARGUMENTS = 2,
    INCOMPLETE_PATIENT = 100,
    HELIX_EXCHANGE_FOLDER_FAILED = 1000,
    HELIX_NOT_INSTALLED = 1001,
    HELIX_INSTALL_PROGRESS = 1002,
    HELIX_DOWNLOAD_FINISHED = 1003,
    HELIX_EXTRACTION_STARTED = 1004,
    HELIX_RESULTS = 1005,
    HELIX_DOWNLOAD_FAILED = 1006,
    HELIX_REQUEST_FILE_FAILED = 1007,
    HELIX_EXAM_STARTED = 1008,
    HELIX_SETUP_STARTED = 1009,
    HELIX_INSTALL_FAILED = 1010,
    HELIX_START_FAILED = 1011,
    HELIX_RESULT_UNATTRIBUTED = 1012,
    POLYSOMNO_DB_NOT_FOUND = 2000,
    POLYSOMNO_NOT_INSTALLED = 2001,
    POLYSOMNO_DB_OPEN_FAILED = 2007,
    POLYSOMNO_INSERT_FAILED = 2008,
    POLYSOMNO_DB_IN_USE = 2009,
    POLYSOMNO_STARTED = 2010,
    POLYSOMNO_START_FAILED = 2011,
    POLYSOMNO_PATIENT_MISMATCH = 2012,
};

Q_DECLARE_METATYPE(SocketMessage)
