// Measures what keeping a run's old fa_Total in the history costs: reads
// fa_Total of an account-year database as a run does (a run reads it anyway,
// for its change report), then records it as a run records it, five times,
// and prints the fastest record in milliseconds and the rows and values kept.
//
//   fatotal-history-probe <kvdata.mdb>      (the history goes to FATOTAL_STATE_DIR)
#include "data/conn_strings.h"
#include "data/db_state.h"
#include "ledger/change_report.h"
#include "ledger/recalc.h"
#include "ledger/run_session.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2 || qEnvironmentVariableIsEmpty("FATOTAL_STATE_DIR")) {
        std::fprintf(stderr, "usage: FATOTAL_STATE_DIR=<dir> fatotal-history-probe <kvdata.mdb>\n");
        return 2;
    }
    fa::CreateSharedObjects();
    fa::IsAccess = true;
    fa::AccConnStr = fa::JetConnPrefix + QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    if (!fa::OpenConn(*fa::AccConn, fa::AccConnStr)) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const fa::TotalsSnapshot before = fa::ReadTotals();
    const fa::ChangeReport changes = fa::CompareTotals(before, before);
    qint64 best = -1;
    for (int round = 0; round < 5; ++round) {
        fa::RunHistoryEntry entry(QStringLiteral("001"), QStringLiteral("2026"));
        QElapsedTimer clock;
        clock.start();
        QString reason;
        if (!entry.recordBeforeCommit(fa::kCompletedOutcome, before, changes, &reason)) {
            std::fprintf(stderr, "%s\n", qPrintable(reason));
            return 1;
        }
        const qint64 spent = clock.nsecsElapsed();
        best = best < 0 ? spent : std::min(best, spent);
    }
    fa::AccConn->Close();
    std::printf("%.1f %lld %lld\n", best / 1e6, qlonglong(before.rows.size()),
                qlonglong(before.rows.size() * before.columns.size()));
    return 0;
}
