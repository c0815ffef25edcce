#include "materials/QuestionnaireAnswers.h"

#include "store/DataTables.h"
#include "store/Store.h"

namespace aquilevel {

const QString kRecordingQuestionnaire = QStringLiteral("Recording Questionnaire");

void AddQuestionnaireAnswer(store::Store& store, const QString& subject, const QString& version,
                            qint16 number, const QString& answer)
{
    const store::AnswerRow row{subject, version, number, answer};
    store.write([row](store::Connection& c) { store::QuestionnaireTable::append(c, row); },
                QStringLiteral("datQuestionnaire"), kRecordingQuestionnaire);
}

bool QuestionnaireAnswered(store::Store& store, const QString& subject, const QString& version)
{
    int answered = 0;
    store.read([&](store::Connection& c) { answered = store::QuestionnaireTable::answered(c, subject, version, 3); },
               QStringLiteral("datQuestionnaire"), QStringLiteral("Check New User"));
    return answered == 3;
}

} // namespace aquilevel
