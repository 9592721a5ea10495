#pragma once

#include "data/connection.h"

#include <QDate>
#include <QString>

namespace fa::sample {

// What a generated account-year ledger holds.
struct LedgerShape
{
    int year = 2026;
    int cards = 600;   // cards, each with one record entered before or in the year
    QDate faStartDate; // the fixed-asset module's start date
    QString versionFlag = QStringLiteral("8.21");
    bool staleTotals = true; // an outdated fa_Total to be rebuilt
};

// Fills the ledger tables of an open, empty account-year database.
//
// Card i belongs to one of five departments and four asset types. Every
// tenth card (i % 10 = 7) is entered during the year (code 1, or code 2 when
// i % 30 = 7); the others were entered in earlier years and most of them get a
// second record dated in the year that carries one operation, by i % 11:
// 1 disposal (3), 2 value increase with a change voucher (4), 3 value decrease
// with a change voucher (5), 4 and 6 decreases (6, 8), 5 and 7 additions
// (7, 9), 8 a depreciation transfer (11), 9 an evaluation with its voucher
// (18). Every 97th card has no depreciation row; only every third card has a
// workload row.
void fillLedger(Connection &conn, const LedgerShape &shape);

// Writes a complete demo installation under outDir: the system database
// outDir/kvsystem/kvsystem.mdb with two account sets and twelve monthly
// periods per year, and their account-year databases under
// outDir/ZT<id>/<year>/kvdata.mdb. Account set 001 has `cards` cards in 2026
// and a small 2025; account set 002 starts its fixed-asset module on
// 10 May 2026. Throws AppError; never overwrites an existing file.
void writeDemo(const QString &outDir, int cards);

} // namespace fa::sample
