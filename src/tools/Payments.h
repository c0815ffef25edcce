#pragma once

#include "tools/LeftOut.h"
#include "tools/Progress.h"

#include <QDate>
#include <QList>
#include <QString>

namespace aquilevel::store {
class Store;
}

namespace aquilevel::tools {

// Who is paid: every filter of the participants to pay goes here, for the payments
// command and the console alike.
struct PaymentSelection {
    QString version;
    QDate since;
    QDate day;
    // Pilots and excluded participants are paid apart, unless taken in.
    bool includePilots = false;
    bool includeExcluded = false;
};

struct ToPay {
    QList<ParticipantProgress> paid;
    QList<ParticipantProgress> apart; // marked as pilots or excluded, and not taken in
    bool versionFound = false;        // tblSetup has the version asked for
    // The line that says how many were set apart and how to take them in; empty for none.
    QString note() const;
};
ToPay participantsToPay(store::Store& store, const PaymentSelection& selection);
// The same choice among participants already read (versionFound is left false).
ToPay sortOut(const QList<ParticipantProgress>& participants, const PaymentSelection& selection);

// The day a session began and the time of a moment, as the payments show them; empty
// when unknown.
QString sessionDate(const ParticipantProgress& p);
QString clockTime(const QDateTime& at);

// The payments list as CSV (UTF-8, header row, CRLF line ends); the first columns stay
// where scripts read them.
void writePaymentsCsv(const QString& path, const QList<ParticipantProgress>& participants);

// One participant's line of the pay sheet, in hundredths.
struct SheetLine {
    QString station, subject, version, symbol;
    qint64 base = 0, bonus = 0, total = 0, roundedUp = 0;
    // "still playing" (the amount is not final yet) or "left early"; empty when finished.
    QString note;
    int participants = 1; // a sum's: how many lines it adds
};

// What to pay at the booth after one session: a line a participant, ordered by station,
// and a sum for each currency symbol.
struct PaySheet {
    QString title;
    qint64 unitCents = 1;
    QList<SheetLine> lines;
    QList<SheetLine> sums;
};
PaySheet paySheet(const QList<ParticipantProgress>& participants, qint64 unitCents, const QString& title);
// Written whole or not at all (ToolError): a printable A4 PDF, or CSV with plain numbers.
void writeSheetPdf(const QString& path, const PaySheet& sheet);
void writeSheetCsv(const QString& path, const PaySheet& sheet);

// A rounding unit in whole hundredths: "0.5" -> 50; 0 when it is none.
qint64 unitInCents(const QString& text);

} // namespace aquilevel::tools
