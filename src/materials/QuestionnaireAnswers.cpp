#include "materials/QuestionnaireAnswers.h"

#include "store/Query.h"
#include "store/Store.h"

namespace aquilevel {

const QString kRecordingQuestionnaire = QStringLiteral("Recording Questionnaire");

void AddQuestionnaireAnswer(store::Store& store, const QString& subject, const QString& version,
                            qint16 number, const QString& answer)
{
    auto rs = store.OpenTable("datQuestionnaire", false, kRecordingQuestionnaire);
    rs->addNew();
    rs->setField(QStringLiteral("Subject"), subject);
    rs->setField(QStringLiteral("Version"), version);
    rs->setField(QStringLiteral("QuestionNumber"), number);
    rs->setField(QStringLiteral("QuestionAnswer"), answer);
    rs->update();
    rs->close();
}

bool QuestionnaireAnswered(store::Store& store, const QString& subject, const QString& version)
{
    auto rs = store.OpenTable(
        store::Query(QStringLiteral("select count(distinct QuestionNumber) from datQuestionnaire "
                                    "where Subject = ? and Version = ? and QuestionNumber in (1, 2, 3)"),
                     {subject, version}),
        true, QStringLiteral("Check New User"));
    const bool answered = !rs->isEOF() && rs->field(rs->fieldNames().value(0)).toInt() == 3;
    rs->close();
    return answered;
}

} // namespace aquilevel
