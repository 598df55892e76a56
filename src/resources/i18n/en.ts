<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>QObject</name>
    <message>
        <source>Chatwharf</source>
        <translation>Chatwharf</translation>
    </message>
</context>
<context>
    <name>Sqlite3DB</name>
    <message>
        <source>IDS_SQLITE_ERROR</source>
        <translation>The database %1 reported an error: %2</translation>
    </message>
</context>
</TS>
