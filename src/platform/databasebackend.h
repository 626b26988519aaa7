// Which database backend registers polysomnography patients on this platform.
#pragma once

#include <QtGlobal>

enum class DatabaseBackend
{
    Odbc,   // the Microsoft Access driver over Qt's QODBC
    Sqlite, // an SQLite file standing in for the Access database where no Access driver exists
};

inline DatabaseBackend defaultDatabaseBackend()
{
#ifdef Q_OS_WIN
    return DatabaseBackend::Odbc;
#else
    return DatabaseBackend::Sqlite;
#endif
}
