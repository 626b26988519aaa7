// What a polysomnography bridge takes from the connector around it.
#pragma once

#include "platform/databasebackend.h"

class ProgramLauncher;

struct PolysomnoSettings
{
    DatabaseBackend database = DatabaseBackend::Odbc; // as the configuration decided it
    ProgramLauncher *launcher = nullptr;
};
