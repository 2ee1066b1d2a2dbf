<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>ChangeLogViewer</name>
    <message>
        <source>Changelog</source>
        <translation>Änderungsprotokoll</translation>
    </message>
    <message>
        <source>Loading...</source>
        <translation>Wird geladen...</translation>
    </message>
    <message>
        <source>Failed to load changelog.</source>
        <translation>Das Änderungsprotokoll konnte nicht geladen werden.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Corvanta Client Update</source>
        <translation>Corvanta-Client-Aktualisierung</translation>
    </message>
    <message>
        <source>&lt;span style=&quot;font-size:small;&quot;&gt;© 2026 &lt;a href=&quot;%1&quot;&gt;Corvanta&lt;/a&gt;&lt;/span&gt;</source>
        <translation>&lt;span style=&quot;font-size:small;&quot;&gt;© 2026 &lt;a href=&quot;%1&quot;&gt;Corvanta&lt;/a&gt;&lt;/span&gt;</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>View Changes</source>
        <translation>Änderungen anzeigen</translation>
    </message>
    <message>
        <source>Start Update</source>
        <translation>Aktualisierung starten</translation>
    </message>
    <message>
        <source>Stable</source>
        <translation>Stable</translation>
    </message>
    <message>
        <source>Beta</source>
        <translation>Beta</translation>
    </message>
    <message>
        <source>Alpha</source>
        <translation>Alpha</translation>
    </message>
    <message>
        <source>Update to Corvanta %1</source>
        <translation>Aktualisierung auf Corvanta %1</translation>
    </message>
    <message>
        <source>You are currently on &lt;strong&gt;%1 channel&lt;/strong&gt;.</source>
        <translation>Sie verwenden derzeit den &lt;strong&gt;Kanal %1&lt;/strong&gt;.</translation>
    </message>
    <message>
        <source>%1 KB / %2 KB</source>
        <translation>%1 KB / %2 KB</translation>
    </message>
    <message>
        <source>%1 KB/s</source>
        <translation>%1 KB/s</translation>
    </message>
    <message>
        <source>Start Corvanta</source>
        <translation>Corvanta starten</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>Neu starten</translation>
    </message>
    <message>
        <source>Update cancelled</source>
        <translation>Aktualisierung abgebrochen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisierung</translation>
    </message>
    <message>
        <source>Update cancelled. Push &quot;Details&quot; to check reasons.</source>
        <translation>Die Aktualisierung wurde abgebrochen. Die Gründe zeigt „Details“.</translation>
    </message>
    <message>
        <source>Click to open &quot;%1://%2&quot;</source>
        <translation>„%1://%2“ öffnen</translation>
    </message>
    <message>
        <source>Question</source>
        <translation>Frage</translation>
    </message>
    <message>
        <source>&lt;p&gt;Update in progress.&lt;/p&gt;&lt;p&gt;Are you sure you want to abort?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Die Aktualisierung läuft.&lt;/p&gt;&lt;p&gt;Soll sie wirklich abgebrochen werden?&lt;/p&gt;</translation>
    </message>
    <message>
        <source>The update was already installed when you asked to abort; it is complete.</source>
        <translation>Die Aktualisierung war bereits installiert, als Sie den Abbruch verlangten; sie ist vollständig.</translation>
    </message>
    <message>
        <source>Try again</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>The update failed; your installation is unchanged.</source>
        <translation>Die Aktualisierung ist fehlgeschlagen; Ihre Installation ist unverändert.</translation>
    </message>
    <message>
        <source>The new version is installed, but the update did not finish.</source>
        <translation>Die neue Version ist installiert, aber die Aktualisierung wurde nicht abgeschlossen.</translation>
    </message>
    <message>
        <source>The update failed and could not be undone completely; start the updater again to restore your installation.</source>
        <translation>Die Aktualisierung ist fehlgeschlagen und konnte nicht vollständig rückgängig gemacht werden; starten Sie das Aktualisierungsprogramm erneut, um Ihre Installation wiederherzustellen.</translation>
    </message>
    <message>
        <source>Push &quot;Details&quot; for the reason, then try again.</source>
        <translation>Den Grund zeigt „Details“; versuchen Sie es dann erneut.</translation>
    </message>
    <message>
        <source>Reason: %1</source>
        <translation>Grund: %1</translation>
    </message>
    <message>
        <source>Waiting for the mirrors...</source>
        <translation>Warte auf die Spiegelserver …</translation>
    </message>
    <message>
        <source>%1, %2 left</source>
        <translation>%1, noch %2</translation>
    </message>
    <message>
        <source>Downloaded %1 KB of %2 KB, %3 left</source>
        <translation>%1 KB von %2 KB heruntergeladen, noch %3</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 min %2 s</source>
        <translation>%1 min %2 s</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>Corvanta is up to date</source>
        <translation>Corvanta ist auf dem neuesten Stand</translation>
    </message>
    <message>
        <source>Corvanta %1 is installed</source>
        <translation>Corvanta %1 ist installiert</translation>
    </message>
    <message>
        <source>The update finished successfully.</source>
        <translation>Die Aktualisierung wurde erfolgreich abgeschlossen.</translation>
    </message>
</context>
<context>
    <name>Mirrors</name>
    <message>
        <source>There are no (more) known working mirrors available</source>
        <translation>Es sind keine (weiteren) funktionierenden Spiegelserver bekannt</translation>
    </message>
    <message>
        <source>Mirror %1 failed too many times, removing</source>
        <translation>Spiegelserver %1 ist zu oft gescheitert und wird entfernt</translation>
    </message>
    <message>
        <source>Mirror %1 is listed more than once; using its first entry</source>
        <translation>Spiegelserver %1 ist mehrfach eingetragen; der erste Eintrag gilt</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Invalid version nr (%1)</source>
        <translation>Ungültige Versionsnummer (%1)</translation>
    </message>
    <message>
        <source>Update server returned invalid version nr (%1)</source>
        <translation>Der Aktualisierungsserver hat eine ungültige Versionsnummer geliefert (%1)</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Failed to query latest client
version from update server.</source>
        <translation>Die neueste Client-Version konnte
nicht vom Aktualisierungsserver abgefragt werden.</translation>
    </message>
    <message>
        <source>Invalid client type (%1)</source>
        <translation>Ungültiger Client-Typ (%1)</translation>
    </message>
    <message>
        <source>Another update of %1 is already running; this one ends without changing anything.</source>
        <translation>Eine andere Aktualisierung von %1 läuft bereits; diese endet, ohne etwas zu ändern.</translation>
    </message>
    <message>
        <source>Cannot lock the installation %1 (%2: %3); the update ends without changing anything.</source>
        <translation>Die Installation %1 kann nicht gesperrt werden (%2: %3); die Aktualisierung endet, ohne etwas zu ändern.</translation>
    </message>
</context>
</TS>
