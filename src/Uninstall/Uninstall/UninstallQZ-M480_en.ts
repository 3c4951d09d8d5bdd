<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name></name>
    <message id="FIRST_MSG">
        <source>FIRST_MSG</source>
        <translation>This removes the QZ-M480 printer driver, its colour profiles and its status utility from this computer. Click Uninstall to continue.</translation>
    </message>
    <message id="EXEC_MSG">
        <source>EXEC_MSG</source>
        <translation>Removing the QZ-M480 printer driver. Please wait.</translation>
    </message>
    <message id="SUCCESS_MSG">
        <source>SUCCESS_MSG</source>
        <translation>The QZ-M480 printer driver has been removed.</translation>
    </message>
    <message id="FAIL_MSG">
        <source>FAIL_MSG</source>
        <translation>The QZ-M480 printer driver could not be removed completely. Click Uninstall to try again.</translation>
    </message>
    <message id="EXIT">
        <source>EXIT</source>
        <translation>Exit</translation>
    </message>
</context>
</TS>
