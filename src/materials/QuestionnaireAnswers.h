#pragma once

#include <QString>

namespace aquilevel::store {
class Store;
}

namespace aquilevel {

// The questionnaire's answers (datQuestionnaire), one row per question.

// The status its rows are written under, as the retry questions show it.
extern const QString kRecordingQuestionnaire;

// Appends the answer to question `number` (1 to 3).
void AddQuestionnaireAnswer(store::Store& store, const QString& subject, const QString& version,
                            qint16 number, const QString& answer);

// True when all three questions of the participant's questionnaire are answered.
bool QuestionnaireAnswered(store::Store& store, const QString& subject, const QString& version);

} // namespace aquilevel
