<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>Inboxwarden</name>
    <message>
        <source>Connection refused</source>
        <translation>Verbindung abgelehnt</translation>
    </message>
    <message>
        <source>Retrieving message %d of %d</source>
        <translation>Nachricht %d von %d wird abgerufen</translation>
    </message>
</context>
<context>
    <name>Tray</name>
    <message>
        <source>Mail client not found
(%s)</source>
        <translation>Mailprogramm nicht gefunden
(%d)</translation>
    </message>
</context>
</TS>
