// What a polysomnography bridge takes from the connector around it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/databasebackend.h"
#include "platform/lockfile.h"

class PatientDatabase;
class ProgramLauncher;

struct PolysomnoSettings
{
    DatabaseBackend database = DatabaseBackend::Odbc; // as the configuration decided it
    ProgramLauncher *launcher = nullptr;
    /// Makes the database of one registration; when not set, the backend above. Tests put failing ones here.
    std::function<std::unique_ptr<PatientDatabase>()> makeDatabase = nullptr;
    /// What a lock file beside the database says; tests put answers of their own here.
    std::function<LockFileCheck(const std::string &path)> checkLockFile = ::checkLockFile;
};
