// The worked example of an exam request: a made-up patient and the exact bytes of its GDT record.
#pragma once

#include <QByteArray>
#include <QJsonObject>

inline QJsonObject examplePatient()
{
    return QJsonObject{{QStringLiteral("code"), QStringLiteral("P0042")},
                       {QStringLiteral("first_name"), QStringLiteral("Sample")},
                       {QStringLiteral("last_name"), QStringLiteral("Patient")},
                       {QStringLiteral("birth_date"), QStringLiteral("07/03/1985")},
                       {QStringLiteral("gender"), 1},
                       {QStringLiteral("address"), QStringLiteral("Main Street 5")},
                       {QStringLiteral("height"), 170},
                       {QStringLiteral("weight"), 65}};
}

inline QByteArray exampleRequest()
{
    return QByteArrayLiteral("01380006302\r\n"
                             "014810000198\r\n"
                             "01392182.00\r\n"
                             "0143000P0042\r\n"
                             "0153101Sample\r\n"
                             "0163102Patient\r\n"
                             "017310307031985\r\n"
                             "0093106\r\n"
                             "0223107Main Street 5\r\n"
                             "01031102\r\n"
                             "01036220\r\n"
                             "01036230\r\n"
                             "0258402TONAL_AUDIOMETRY\r\n"
                             "01092062\r\n");
}
