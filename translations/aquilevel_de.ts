<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>EndGame</name>
    <message>
        <source>The game is over and you have earned %1 %2. Thank you for your participation. Please call the experimenter for further instructions.</source>
        <extracomment>%1 the amount, %2 the currency&apos;s word.</extracomment>
        <translation>Das Spiel ist beendet. Sie haben %1 %2 verdient. Vielen Dank für Ihre Teilnahme. Bitte wenden Sie sich für weitere Anweisungen an die Versuchsleitung.</translation>
    </message>
    <message>
        <source>dollars</source>
        <translation>Dollar</translation>
    </message>
    <message>
        <source>The session ended before any period was played: the experiment database at %1 could not be used. Nothing more was stored.

Please call the experimenter.</source>
        <translation>Die Sitzung wurde beendet, bevor ein Zeitraum gespielt wurde: Die Experimentdatenbank unter %1 konnte nicht verwendet werden. Es wurde nichts weiter gespeichert.

Bitte wenden Sie sich an die Versuchsleitung.</translation>
    </message>
</context>
<context>
    <name>Resume</name>
    <message>
        <source>is empty</source>
        <translation>ist leer</translation>
    </message>
    <message>
        <source>holds &quot;%1&quot;, which is not a number</source>
        <translation>enthält „%1“, was keine Zahl ist</translation>
    </message>
    <message>
        <source>holds %1, outside the whole numbers it can hold (%2 to %3)</source>
        <translation>enthält %1, was außerhalb der ganzen Zahlen liegt, die es fassen kann (%2 bis %3)</translation>
    </message>
    <message>
        <source>is missing from the table</source>
        <translation>fehlt in der Tabelle</translation>
    </message>
    <message>
        <source>of period %1</source>
        <translation>des Zeitraums %1</translation>
    </message>
    <message>
        <source>The saved state of participant &quot;%1&quot; in version &quot;%2&quot; cannot be read: %3, field %4 %5.</source>
        <extracomment>%3 the table, %4 the field, %5 what is wrong with it (&quot;is empty&quot;, &quot;of period 3 is empty&quot;).</extracomment>
        <translation>Der gespeicherte Stand der teilnehmenden Person „%1“ in Version „%2“ kann nicht gelesen werden: %3, Feld %4 %5.</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>There is no experiment database at %1.
Create one with: aquilevel init</source>
        <translation>Unter %1 gibt es keine Experimentdatenbank.
Legen Sie eine an mit: aquilevel init</translation>
    </message>
    <message>
        <source>Aquilevel stopped because of an internal error:
%1</source>
        <translation>Aquilevel wurde wegen eines internen Fehlers beendet:
%1</translation>
    </message>
    <message>
        <source>The experiment database at %1 holds no version in tblSetup.</source>
        <translation>Die Experimentdatenbank unter %1 enthält keine Version in tblSetup.</translation>
    </message>
</context>
<context>
    <name>Store</name>
    <message>
        <source>Error %1: %2</source>
        <translation>Fehler %1: %2</translation>
    </message>
    <message>
        <source>Retry? (No to quit)</source>
        <translation>Erneut versuchen? (Nein beendet das Programm)</translation>
    </message>
    <message>
        <source>Error %1: %2<byte value="xd"/>
Status was %3<byte value="xd"/>
Retry?</source>
        <translation>Fehler %1: %2<byte value="xd"/>
Status: %3<byte value="xd"/>
Erneut versuchen?</translation>
    </message>
    <message>
        <source>Problems opening table</source>
        <translation>Probleme beim Öffnen der Tabelle</translation>
    </message>
</context>
<context>
    <name>aquilevel::InstructionScreen</name>
    <message>
        <source>As soon as you enter the number of units in the decision boxes at the bottom of the screen and hit &quot;Submit&quot;, the Environment Inflow and Outflow will take place. These Environment Inflows and Outflows are not within your control but you can observe their nature from the information display marked as &quot;Env Inflow(Gallons/Time Period)&quot; and &quot;Env Outflow(Gallons/Time Period)&quot; for the last time period. You will receive feedback about the number of units of Environment Inflow and Outflow with a number that pops up in the black boxes during each time period as well. Next, the Inflow and Outflow quantities you entered will be reflected at the top of the page in &quot;UserInFlow&quot; and &quot;UserOutFlow&quot; and will change the system.  At the end of each time period, you will be able to visually see the water level in the tank and numerically see the same, by looking at &quot;Amount in Tank&quot;. You can then begin the next time period, by submitting new Inflow and Outflow values.  Do your best to control the water level, given the variable nature of the environment inflows and outflows.</source>
        <translation>Sobald Sie die Anzahl der Einheiten in die Entscheidungsfelder unten auf dem Bildschirm eingeben und auf „Absenden“ klicken, finden der Zufluss und der Abfluss der Umwelt statt. Diese Zu- und Abflüsse der Umwelt liegen nicht in Ihrer Hand, aber Sie können ihr Verhalten im letzten Zeitraum an den Anzeigen „Umwelt-Zufluss (Gallonen/Zeitraum)“ und „Umwelt-Abfluss (Gallonen/Zeitraum)“ ablesen. Außerdem zeigt Ihnen in jedem Zeitraum eine Zahl in den schwarzen Kästchen an, wie viele Einheiten die Umwelt zu- und abfließen lässt. Danach erscheinen die von Ihnen eingegebenen Zu- und Abflussmengen oben auf dem Bildschirm unter „Ihr Zufluss“ und „Ihr Abfluss“ und verändern das System. Am Ende jedes Zeitraums sehen Sie den Wasserstand im Tank als Bild und als Zahl unter „Menge im Tank“. Dann können Sie den nächsten Zeitraum beginnen, indem Sie neue Werte für Zu- und Abfluss absenden. Geben Sie Ihr Bestes, den Wasserstand trotz der wechselnden Zu- und Abflüsse der Umwelt zu steuern.</translation>
    </message>
    <message>
        <source>Click the &quot;&gt;&quot; button to move forward to getting familiar with this experiment&apos;s user controls and screen displays. You can always come back to this screen by clicking the &quot;&lt;&quot; button.</source>
        <translation>Klicken Sie auf die Schaltfläche „&gt;“, um sich mit den Bedienelementen und Anzeigen dieses Experiments vertraut zu machen. Mit der Schaltfläche „&lt;“ kommen Sie jederzeit auf diese Seite zurück.</translation>
    </message>
    <message>
        <source>This experiment explores decision making in a dynamic environment.  It examines learning in terms of your performance over %1 time periods.</source>
        <translation>Dieses Experiment untersucht Entscheidungen in einer sich verändernden Umgebung. Es betrachtet, wie Sie über %1 Zeiträume hinweg dazulernen.</translation>
    </message>
    <message>
        <source>During the experiment, you will face a screen like the one depicted below. The tank will have an initial amount of water. Your goal during each of the %1 time periods is to keep the water level at or as close as possible to the red goal line (which would remain fixed at %2 %3), by choosing between different units to submit for User Inflow and Outflow.</source>
        <extracomment>%1 periods, %2 the goal line&apos;s amount, %3 its unit (such as Gallons).</extracomment>
        <translation>Während des Experiments sehen Sie einen Bildschirm wie den unten abgebildeten. Der Tank enthält zu Beginn eine bestimmte Menge Wasser. Ihr Ziel ist es, in jedem der %1 Zeiträume den Wasserstand auf oder so nah wie möglich an der roten Ziellinie zu halten (die fest bei %2 %3 liegt), indem Sie wählen, wie viele Einheiten Sie als Zufluss und Abfluss absenden.</translation>
    </message>
    <message>
        <source>The experiment will last at most %1 minutes and for this you will be compensated a standard amount of %2%10. In addition to the %2%10, there is an additional performance incentive in this experiment. Each time you make the water level meet the goal line at %3 %4 or make the water level come between %5 %4 and %6 %4, you will be paid %7 %11 for your effort. At the rate of %7 %11 for accomplishing the above mentioned in each trial, you potentially can earn an additional %8%10 making your total earnings to be as high as %9%10!</source>
        <extracomment>%1 minutes; %2 the standard amount; %3 the goal line&apos;s amount and %4 its unit; %5 and %6 the band around the goal; %7 cents a period; %8 the most bonus; %9 the most earnings in all; %10 the currency&apos;s symbol; %11 the word for its hundredth.</extracomment>
        <translation>Das Experiment dauert höchstens %1 Minuten; dafür erhalten Sie eine feste Vergütung von %2 %10. Zusätzlich zu den %2 %10 gibt es in diesem Experiment eine leistungsabhängige Prämie: Jedes Mal, wenn Sie den Wasserstand auf die Ziellinie bei %3 %4 bringen oder ihn zwischen %5 %4 und %6 %4 halten, erhalten Sie %7 %11 für Ihre Mühe. Mit %7 %11 für jeden Zeitraum, in dem Ihnen das gelingt, können Sie zusätzlich bis zu %8 %10 verdienen, sodass Ihr Verdienst insgesamt bis zu %9 %10 betragen kann!</translation>
    </message>
    <message>
        <source>Instructions</source>
        <translation>Anleitung</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Compensation</source>
        <translation>Vergütung</translation>
    </message>
    <message>
        <source>If you are ready then click &quot;Continue&quot; button to start the Experiment...</source>
        <translation>Wenn Sie bereit sind, klicken Sie auf „Weiter“, um das Experiment zu beginnen …</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>Exit Application</source>
        <translation>Programm beenden</translation>
    </message>
    <message>
        <source>Are you sure you want to exit?</source>
        <translation>Möchten Sie das Programm wirklich beenden?</translation>
    </message>
    <message>
        <source>cents</source>
        <translation>Cent</translation>
    </message>
</context>
<context>
    <name>aquilevel::LoginScreen</name>
    <message>
        <source>Welcome</source>
        <translation>Willkommen</translation>
    </message>
    <message>
        <source>Login: </source>
        <translation>Anmeldename: </translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>There is no version &quot;%1&quot;. The versions are: %2.</source>
        <translation>Es gibt keine Version „%1“. Vorhandene Versionen: %2.</translation>
    </message>
    <message>
        <source>The login name must not contain control characters (such as a tab or an escape). Please type it again.</source>
        <translation>Der Anmeldename darf keine Steuerzeichen (etwa einen Tabulator oder Escape) enthalten. Bitte geben Sie ihn erneut ein.</translation>
    </message>
    <message>
        <source>The version must not contain control characters (such as a tab or an escape). Please type it again.</source>
        <translation>Die Version darf keine Steuerzeichen (etwa einen Tabulator oder Escape) enthalten. Bitte geben Sie sie erneut ein.</translation>
    </message>
    <message>
        <source>Login %1 already used</source>
        <translation>Anmeldename %1 wird bereits verwendet</translation>
    </message>
    <message>
        <source>Continue with Trial #%1</source>
        <translation>Mit Zeitraum %1 fortfahren?</translation>
    </message>
</context>
<context>
    <name>aquilevel::PasswordGate</name>
    <message>
        <source>Authentication</source>
        <translation>Anmeldung der Versuchsleitung</translation>
    </message>
    <message>
        <source>Username</source>
        <translation>Benutzername</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Exit Application</source>
        <translation>Programm beenden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Please enter Username</source>
        <translation>Bitte geben Sie den Benutzernamen ein</translation>
    </message>
    <message>
        <source>Please enter Password</source>
        <translation>Bitte geben Sie das Passwort ein</translation>
    </message>
    <message>
        <source>Password Incorrect</source>
        <translation>Falsches Passwort</translation>
    </message>
    <message>
        <source>Username or Password is incorrect. Please try again</source>
        <translation>Benutzername oder Passwort ist falsch. Bitte versuchen Sie es erneut</translation>
    </message>
</context>
<context>
    <name>aquilevel::Questionnaire</name>
    <message>
        <source>Questionnaire</source>
        <translation>Fragebogen</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Auswählen</translation>
    </message>
    <message>
        <source>Your answers could not be saved.<byte value="xd"/>
%1<byte value="xd"/>
Status was %2<byte value="xd"/>
Please press Submit again. Everything you have typed is kept.</source>
        <translation>Ihre Antworten konnten nicht gespeichert werden.<byte value="xd"/>
%1<byte value="xd"/>
Status: %2<byte value="xd"/>
Bitte klicken Sie noch einmal auf „Absenden“. Alles, was Sie geschrieben haben, bleibt erhalten.</translation>
    </message>
    <message>
        <source>Aquilevel Questionnaire</source>
        <translation>Aquilevel-Fragebogen</translation>
    </message>
    <message>
        <source>Question 1</source>
        <translation>Frage 1</translation>
    </message>
    <message>
        <source>Difficulty Rating</source>
        <translation>Schwierigkeit</translation>
    </message>
    <message>
        <source>Resons for your rating (Write in space below):</source>
        <translation>Gründe für Ihre Bewertung (bitte unten eintragen):</translation>
    </message>
    <message>
        <source>Question 2</source>
        <translation>Frage 2</translation>
    </message>
    <message>
        <source>What strategy did you follow to keep the water level in the tank as close to the goal as possible? (Try to answer the question even if your strategy did not work for you in the experiment). </source>
        <translation>Welche Strategie haben Sie verfolgt, um den Wasserstand im Tank so nah wie möglich am Ziel zu halten? (Bitte beantworten Sie die Frage auch dann, wenn Ihre Strategie im Experiment nicht aufgegangen ist.) </translation>
    </message>
    <message>
        <source>Question 3</source>
        <translation>Frage 3</translation>
    </message>
    <message>
        <source>Did you change your strategy at any stage in the experiment? If you did so, can you specify what your changes to strategy were during the course of the experiment?</source>
        <translation>Haben Sie Ihre Strategie im Laufe des Experiments geändert? Falls ja: Können Sie beschreiben, wie Sie Ihre Strategie im Verlauf des Experiments verändert haben?</translation>
    </message>
    <message>
        <source>Submit</source>
        <translation>Absenden</translation>
    </message>
    <message>
        <source>How difficult was the present task of keeping the water level in the tank between %1 Gallons and %2 Gallons? (Please rate on a 1 to 10 scale with 10 as most difficult and 1 as least difficult and provide any extra information on reasons for your rating)</source>
        <translation>Wie schwierig war die Aufgabe, den Wasserstand im Tank zwischen %1 Gallonen und %2 Gallonen zu halten? (Bitte bewerten Sie auf einer Skala von 1 bis 10, wobei 10 am schwierigsten und 1 am leichtesten ist, und nennen Sie Gründe für Ihre Bewertung.)</translation>
    </message>
    <message>
        <source>Please give rating in Question 1</source>
        <translation>Bitte geben Sie bei Frage 1 eine Bewertung an</translation>
    </message>
    <message>
        <source>Please answer Question 2</source>
        <translation>Bitte beantworten Sie Frage 2</translation>
    </message>
    <message>
        <source>Please answer Question 3</source>
        <translation>Bitte beantworten Sie Frage 3</translation>
    </message>
    <message>
        <source>Unknown failure</source>
        <translation>Unbekannter Fehler</translation>
    </message>
</context>
<context>
    <name>aquilevel::RegistrationScreen</name>
    <message>
        <source>Architecture</source>
        <translation>Architektur</translation>
    </message>
    <message>
        <source>Art</source>
        <translation>Kunst</translation>
    </message>
    <message>
        <source>Biological Sciences</source>
        <translation>Biowissenschaften</translation>
    </message>
    <message>
        <source>Business</source>
        <translation>Betriebswirtschaftslehre</translation>
    </message>
    <message>
        <source>Chemical Engineering</source>
        <translation>Chemieingenieurwesen</translation>
    </message>
    <message>
        <source>Chemistry</source>
        <translation>Chemie</translation>
    </message>
    <message>
        <source>Civil &amp; Environmental Engineering</source>
        <translation>Bau- und Umweltingenieurwesen</translation>
    </message>
    <message>
        <source>Computer Science</source>
        <translation>Informatik</translation>
    </message>
    <message>
        <source>Design</source>
        <translation>Design</translation>
    </message>
    <message>
        <source>Drama</source>
        <translation>Theaterwissenschaft</translation>
    </message>
    <message>
        <source>Economics</source>
        <translation>Volkswirtschaftslehre</translation>
    </message>
    <message>
        <source>Electrical &amp; Computer Engineering</source>
        <translation>Elektro- und Informationstechnik</translation>
    </message>
    <message>
        <source>Engineering &amp; Public Policy</source>
        <translation>Technik und Politik</translation>
    </message>
    <message>
        <source>English</source>
        <translation>Anglistik</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Geschichte</translation>
    </message>
    <message>
        <source>Information Systems</source>
        <translation>Wirtschaftsinformatik</translation>
    </message>
    <message>
        <source>Materials Science &amp; Engineering</source>
        <translation>Materialwissenschaft und Werkstofftechnik</translation>
    </message>
    <message>
        <source>Mathematical Sciences</source>
        <translation>Mathematik</translation>
    </message>
    <message>
        <source>Mechanical Engineering</source>
        <translation>Maschinenbau</translation>
    </message>
    <message>
        <source>Music</source>
        <translation>Musik</translation>
    </message>
    <message>
        <source>Modern Languages</source>
        <translation>Neuere Sprachen</translation>
    </message>
    <message>
        <source>Philosophy</source>
        <translation>Philosophie</translation>
    </message>
    <message>
        <source>Physics</source>
        <translation>Physik</translation>
    </message>
    <message>
        <source>Psychology</source>
        <translation>Psychologie</translation>
    </message>
    <message>
        <source>Cognitive Science</source>
        <translation>Kognitionswissenschaft</translation>
    </message>
    <message>
        <source>Statistics</source>
        <translation>Statistik</translation>
    </message>
    <message>
        <source>Other</source>
        <translation>Sonstiges</translation>
    </message>
    <message>
        <source>Subject Info: %1</source>
        <translation>Angaben zur Person: %1</translation>
    </message>
    <message>
        <source>Age:</source>
        <translation>Alter:</translation>
    </message>
    <message>
        <source>Gender</source>
        <translation>Geschlecht</translation>
    </message>
    <message>
        <source>Female</source>
        <translation>Weiblich</translation>
    </message>
    <message>
        <source>Male</source>
        <translation>Männlich</translation>
    </message>
    <message>
        <source>Major</source>
        <translation>Studienfach</translation>
    </message>
    <message>
        <source>Begin</source>
        <translation>Beginnen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
</context>
<context>
    <name>aquilevel::Splash</name>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
</context>
<context>
    <name>aquilevel::StationHold</name>
    <message>
        <source>Participant %1 is playing version %2 on station %3 (last event %4 s ago). Should that station have stopped, Start takes the participant over once it has been silent for %5 s.</source>
        <translation>Die teilnehmende Person %1 spielt Version %2 an Station %3 (letztes Ereignis vor %4 s). Sollte diese Station ausgefallen sein, übernimmt „Starten“ die Person, sobald die Station %5 s lang nichts gemeldet hat.</translation>
    </message>
    <message>
        <source>Another station now holds participant %1 of version %2. This station has stopped and stores nothing more for the participant; the session can be continued at that station.</source>
        <translation>Eine andere Station hat die teilnehmende Person %1 der Version %2 übernommen. Diese Station hat angehalten und speichert nichts mehr für diese Person; die Sitzung kann an jener Station fortgesetzt werden.</translation>
    </message>
</context>
<context>
    <name>aquilevel::task::TankDrawing</name>
    <message>
        <source>Goal</source>
        <translation>Ziel</translation>
    </message>
    <message>
        <source>User Inflow</source>
        <translation>Ihr Zufluss</translation>
    </message>
    <message>
        <source>User Outflow</source>
        <translation>Ihr Abfluss</translation>
    </message>
    <message>
        <source>Environment Inflow</source>
        <translation>Umwelt-Zufluss</translation>
    </message>
    <message>
        <source>Environment Outflow</source>
        <translation>Umwelt-Abfluss</translation>
    </message>
</context>
<context>
    <name>aquilevel::task::TrialScreen</name>
    <message>
        <source>Time Period</source>
        <extracomment>The period counter reads &quot;Time Period 3 of 20&quot;.</extracomment>
        <translation>Zeitraum</translation>
    </message>
    <message>
        <source>of</source>
        <extracomment>Between the two numbers of the period counter: &quot;Time Period 3 of 20&quot;.</extracomment>
        <translation>von</translation>
    </message>
    <message>
        <source>Env InFlow (Units/Sec):</source>
        <translation>Umwelt-Zufluss (Einheiten/s):</translation>
    </message>
    <message>
        <source>Env OutFlow (Units/Sec):</source>
        <translation>Umwelt-Abfluss (Einheiten/s):</translation>
    </message>
    <message>
        <source>UserInFlow (Units/Sec):</source>
        <translation>Ihr Zufluss (Einheiten/s):</translation>
    </message>
    <message>
        <source>UserOutFlow (Units/Sec):</source>
        <translation>Ihr Abfluss (Einheiten/s):</translation>
    </message>
    <message>
        <source>Goal (Gallons):</source>
        <translation>Ziel (Gallonen):</translation>
    </message>
    <message>
        <source>Amount in Tank (Gallons):</source>
        <translation>Menge im Tank (Gallonen):</translation>
    </message>
    <message>
        <source>Make Decision-&gt;</source>
        <translation>Entscheiden Sie-&gt;</translation>
    </message>
    <message>
        <source>Enter the number of Inflow (units/second):</source>
        <translation>Geben Sie den Zufluss ein (Einheiten/Sekunde):</translation>
    </message>
    <message>
        <source>Enter the number of Outflow (units/second):</source>
        <translation>Geben Sie den Abfluss ein (Einheiten/Sekunde):</translation>
    </message>
    <message>
        <source>Submit</source>
        <translation>Absenden</translation>
    </message>
    <message>
        <source>Current bonus for the time period is:</source>
        <translation>Bonus für diesen Zeitraum:</translation>
    </message>
    <message>
        <source>Total money to be paid at the end:</source>
        <translation>Am Ende auszuzahlender Betrag:</translation>
    </message>
    <message>
        <source>Back Order (Gallons):</source>
        <translation>Ausstehender Zufluss (Gallonen):</translation>
    </message>
    <message>
        <source>Dch Order (Gallons):</source>
        <translation>Ausstehender Abfluss (Gallonen):</translation>
    </message>
    <message>
        <source>Env InFlow(%1/Time Period):</source>
        <translation>Umwelt-Zufluss (%1/Zeitraum):</translation>
    </message>
    <message>
        <source>Env OutFlow(%1/Time Period):</source>
        <translation>Umwelt-Abfluss (%1/Zeitraum):</translation>
    </message>
    <message>
        <source>UserInFlow(%1/Time Period):</source>
        <translation>Ihr Zufluss (%1/Zeitraum):</translation>
    </message>
    <message>
        <source>UserOutFlow(%1/Time Period):</source>
        <translation>Ihr Abfluss (%1/Zeitraum):</translation>
    </message>
    <message>
        <source>Goal(%1):</source>
        <translation>Ziel (%1):</translation>
    </message>
    <message>
        <source>Amount in Tank(%1):</source>
        <translation>Menge im Tank (%1):</translation>
    </message>
    <message>
        <source>Enter the Inflow(%1/Time Period):</source>
        <translation>Geben Sie den Zufluss ein (%1/Zeitraum):</translation>
    </message>
    <message>
        <source>Enter the Outflow(%1/Time Period):</source>
        <translation>Geben Sie den Abfluss ein (%1/Zeitraum):</translation>
    </message>
    <message>
        <source>Aquilevel stopped because of an internal error:
%1</source>
        <translation>Aquilevel wurde wegen eines internen Fehlers beendet:
%1</translation>
    </message>
    <message>
        <source>The inflow &quot;%1&quot; is not a number. Please type a number such as 2 or 2.5.</source>
        <translation>Der Zufluss „%1“ ist keine Zahl. Bitte geben Sie eine Zahl wie 2 oder 2,5 ein.</translation>
    </message>
    <message>
        <source>The outflow &quot;%1&quot; is not a number. Please type a number such as 2 or 2.5.</source>
        <translation>Der Abfluss „%1“ ist keine Zahl. Bitte geben Sie eine Zahl wie 2 oder 2,5 ein.</translation>
    </message>
    <message>
        <source>Exit Application</source>
        <translation>Programm beenden</translation>
    </message>
    <message>
        <source>Are you sure you want to exit?</source>
        <translation>Möchten Sie das Programm wirklich beenden?</translation>
    </message>
    <message>
        <source>The inflow &quot;%1&quot; is more than this task takes in one period. Please type a number from 0 to %2.</source>
        <translation>Der Zufluss „%1“ ist mehr, als diese Aufgabe in einem Zeitraum annimmt. Bitte geben Sie eine Zahl von 0 bis %2 ein.</translation>
    </message>
    <message>
        <source>The outflow &quot;%1&quot; is more than this task takes in one period. Please type a number from 0 to %2.</source>
        <translation>Der Abfluss „%1“ ist mehr, als diese Aufgabe in einem Zeitraum annimmt. Bitte geben Sie eine Zahl von 0 bis %2 ein.</translation>
    </message>
</context>
</TS>
