#pragma once

#include "session/SessionState.h"
#include "session/StationHold.h"
#include "session/StationPresence.h"
#include "store/Pacer.h"
#include "store/Store.h"

#include <QRandomGenerator>

#include <functional>
#include <memory>

namespace aquilevel {

class Clock;
class Prompter;
class ProcessEnd;

// The outside world of a session: replaced as a whole in tests.
struct SessionServices {
    Prompter& prompter;
    Clock& clock;
    ProcessEnd& processEnd;
    store::Pacer& pacer;
};

// The program's random generator, seeded once at start-up.
class ProgramRandom final : public store::RandomSource {
public:
    void seed(quint32 value) { m_generator.seed(value); }
    double next() override { return m_generator.generateDouble(); }

private:
    QRandomGenerator m_generator{1};
};

// One participant's session: its state and the services it works through. Created once
// in main and handed to every screen. The store it owns ends the session through
// EndGame when the person declines to retry a failed access.
class Session final {
public:
    Session(SessionServices services, std::unique_ptr<store::Engine> engine);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    SessionState state;

    Prompter& prompter() { return m_services.prompter; }
    Clock& clock() { return m_services.clock; }
    ProcessEnd& processEnd() { return m_services.processEnd; }
    store::Store& store() { return m_store; }
    ProgramRandom& random() { return m_random; }
    // This station's hold of the participant it plays.
    StationHold& hold() { return m_hold; }
    // What this station tells the lab it is doing.
    StationPresence& presence() { return m_presence; }

    // What EndGame shows before the earnings message at a normal end of the session.
    void setQuestionnaire(std::function<void()> show) { m_questionnaire = std::move(show); }
    const std::function<void()>& questionnaire() const { return m_questionnaire; }

    // Shows the screens in the language of the version loaded at Start (a code, empty for
    // English). Left unset where the station chose the language itself.
    void setLanguageChoice(std::function<void(const QString&)> choose) { m_languageChoice = std::move(choose); }
    const std::function<void(const QString&)>& languageChoice() const { return m_languageChoice; }

    // EndGame runs once; an end requested while it runs (a failed store access in the
    // questionnaire) goes straight to the earnings message.
    bool ending() const { return m_ending; }
    void setEnding() { m_ending = true; }

private:
    SessionServices m_services;
    ProgramRandom m_random;
    store::Store m_store;
    StationHold m_hold{m_store, [this] { return state.EventID; }};
    StationPresence m_presence{m_store, m_hold.holder()};
    std::function<void()> m_questionnaire;
    std::function<void(const QString&)> m_languageChoice;
    bool m_ending = false;
};

} // namespace aquilevel
