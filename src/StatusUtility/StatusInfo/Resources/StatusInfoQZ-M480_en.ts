<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name></name>
    <message id="statusGroupTitle">
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message id="mediaGroupTitle">
        <source>Media</source>
        <translation>Media</translation>
    </message>
    <message id="totalCountGroupTitle">
        <source>Total prints</source>
        <translation>Total prints</translation>
    </message>
    <message id="serialNoGroupTitle">
        <source>Serial number</source>
        <translation>Serial number</translation>
    </message>
    <message id="firmVersionGroupTitle">
        <source>Firmware version</source>
        <translation>Firmware version</translation>
    </message>
    <message id="update">
        <source>Update</source>
        <translation>Update</translation>
    </message>
    <message id="sheets">
        <source>prints</source>
        <translation>prints</translation>
    </message>
    <message id="percent0">
        <source>0%</source>
        <translation>0%</translation>
    </message>
    <message id="percent50">
        <source>50%</source>
        <translation>50%</translation>
    </message>
    <message id="percent100">
        <source>100%</source>
        <translation>100%</translation>
    </message>
    <message id="st_00000">
        <source>Ready</source>
        <translation>Ready</translation>
    </message>
    <message id="st_00001">
        <source>Printing</source>
        <translation>Printing</translation>
    </message>
    <message id="st_00500">
        <source>Cooling</source>
        <translation>Cooling</translation>
    </message>
    <message id="st_00900">
        <source>Standby</source>
        <translation>Standby</translation>
    </message>
    <message id="st_01000">
        <source>Cover open</source>
        <translation>Cover open</translation>
    </message>
    <message id="st_01010">
        <source>Scrap box missing</source>
        <translation>Scrap box missing</translation>
    </message>
    <message id="st_01100">
        <source>Paper end</source>
        <translation>Paper end</translation>
    </message>
    <message id="st_01200">
        <source>Ribbon end</source>
        <translation>Ribbon end</translation>
    </message>
    <message id="st_01300">
        <source>Paper jam</source>
        <translation>Paper jam</translation>
    </message>
    <message id="st_01400">
        <source>Ribbon error</source>
        <translation>Ribbon error</translation>
    </message>
    <message id="st_01500">
        <source>Paper error</source>
        <translation>Paper error</translation>
    </message>
    <message id="st_01600">
        <source>Printer error</source>
        <translation>Printer error</translation>
    </message>
    <message id="st_02000">
        <source>System error 2000</source>
        <translation>System error 2000</translation>
    </message>
    <message id="st_02100">
        <source>System error 2100</source>
        <translation>System error 2100</translation>
    </message>
    <message id="st_02200">
        <source>System error 2200</source>
        <translation>System error 2200</translation>
    </message>
    <message id="st_02300">
        <source>System error 2300</source>
        <translation>System error 2300</translation>
    </message>
    <message id="st_02400">
        <source>System error 2400</source>
        <translation>System error 2400</translation>
    </message>
    <message id="st_02500">
        <source>System error 2500</source>
        <translation>System error 2500</translation>
    </message>
    <message id="st_02600">
        <source>System error 2600</source>
        <translation>System error 2600</translation>
    </message>
    <message id="st_02610">
        <source>System error 2610</source>
        <translation>System error 2610</translation>
    </message>
    <message id="st_02700">
        <source>System error 2700</source>
        <translation>System error 2700</translation>
    </message>
    <message id="st_02800">
        <source>System error 2800</source>
        <translation>System error 2800</translation>
    </message>
    <message id="st_03000">
        <source>System error 3000</source>
        <translation>System error 3000</translation>
    </message>
    <message id="st_99999">
        <source>Offline</source>
        <translation>Offline</translation>
    </message>
    <message id="ms_00001">
        <source>The printer is ready to print.</source>
        <translation>The printer is ready to print.</translation>
    </message>
    <message id="ms_00002">
        <source>The printer is printing. Please wait until the prints are finished.</source>
        <translation>The printer is printing. Please wait until the prints are finished.</translation>
    </message>
    <message id="ms_00003">
        <source>The print head is cooling down. Printing goes on by itself shortly.</source>
        <translation>The print head is cooling down. Printing goes on by itself shortly.</translation>
    </message>
    <message id="ms_00004">
        <source>The printer is cooling down after many prints. Printing goes on by itself; please wait.</source>
        <translation>The printer is cooling down after many prints. Printing goes on by itself; please wait.</translation>
    </message>
    <message id="ms_00005">
        <source>The printer is in standby. It wakes up when the next job arrives.</source>
        <translation>The printer is in standby. It wakes up when the next job arrives.</translation>
    </message>
    <message id="ms_00006">
        <source>The printer is not connected or is switched off. Check the USB cable and the power switch.</source>
        <translation>The printer is not connected or is switched off. Check the USB cable and the power switch.</translation>
    </message>
    <message id="ms_00100">
        <source>The printer cover is open. Close the cover.</source>
        <translation>The printer cover is open. Close the cover.</translation>
    </message>
    <message id="ms_00101">
        <source>The scrap box is not in place. Empty the scrap box and put it back.</source>
        <translation>The scrap box is not in place. Empty the scrap box and put it back.</translation>
    </message>
    <message id="ms_00102">
        <source>The paper has run out. Load a new paper roll and close the cover.</source>
        <translation>The paper has run out. Load a new paper roll and close the cover.</translation>
    </message>
    <message id="ms_00103">
        <source>The ink ribbon has run out. Replace the ink ribbon and close the cover.</source>
        <translation>The ink ribbon has run out. Replace the ink ribbon and close the cover.</translation>
    </message>
    <message id="ms_00104">
        <source>The paper is jammed. Open the cover, remove the jammed paper and close the cover.</source>
        <translation>The paper is jammed. Open the cover, remove the jammed paper and close the cover.</translation>
    </message>
    <message id="ms_00105">
        <source>The ink ribbon is not loaded correctly or is damaged. Check the ribbon, then close the cover.</source>
        <translation>The ink ribbon is not loaded correctly or is damaged. Check the ribbon, then close the cover.</translation>
    </message>
    <message id="ms_00106">
        <source>The paper is not loaded correctly or does not suit the ribbon. Check the paper roll, then close the cover.</source>
        <translation>The paper is not loaded correctly or does not suit the ribbon. Check the paper roll, then close the cover.</translation>
    </message>
    <message id="ms_00107">
        <source>The printer has found an error. Switch the printer off and on again.</source>
        <translation>The printer has found an error. Switch the printer off and on again.</translation>
    </message>
    <message id="ms_00108">
        <source>The loaded paper and ink ribbon cannot be identified. Load a matching paper roll and ink ribbon.</source>
        <translation>The loaded paper and ink ribbon cannot be identified. Load a matching paper roll and ink ribbon.</translation>
    </message>
    <message id="ms_00200">
        <source>A system error occurred (2000). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (2000). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="ms_00201">
        <source>A system error occurred (2100). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (2100). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="ms_00202">
        <source>A system error occurred (2200). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (2200). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="ms_00203">
        <source>A system error occurred (2300). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (2300). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="ms_00204">
        <source>A system error occurred (2400). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (2400). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="ms_00205">
        <source>A system error occurred (2500). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (2500). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="ms_00206">
        <source>A system error occurred (2600). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (2600). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="ms_00207">
        <source>A system error occurred (2610). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (2610). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="ms_00208">
        <source>A system error occurred (2700). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (2700). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="ms_00209">
        <source>A system error occurred (2800). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (2800). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="ms_00210">
        <source>A system error occurred (3000). Switch the printer off and on again; if the error comes back, contact your service centre.</source>
        <translation>A system error occurred (3000). Switch the printer off and on again; if the error comes back, contact your service centre.</translation>
    </message>
    <message id="size_00200">
        <source>5 in paper (127 mm wide)</source>
        <translation>5 in paper (127 mm wide)</translation>
    </message>
    <message id="size_00210">
        <source>5 in paper, type 210 (127 mm wide)</source>
        <translation>5 in paper, type 210 (127 mm wide)</translation>
    </message>
    <message id="size_00301">
        <source>6 in paper (152 mm wide)</source>
        <translation>6 in paper (152 mm wide)</translation>
    </message>
    <message id="size_00310">
        <source>6 in paper, type 310 (152 mm wide)</source>
        <translation>6 in paper, type 310 (152 mm wide)</translation>
    </message>
    <message id="mediaDigital">
        <source>Digital</source>
        <translation>Digital</translation>
    </message>
    <message id="mediaPremiumDigital">
        <source>Premium Digital</source>
        <translation>Premium Digital</translation>
    </message>
    <message id="mediaPurePremium">
        <source>Pure Premium</source>
        <translation>Pure Premium</translation>
    </message>
    <message id="mediaMetallic">
        <source>Metallic</source>
        <translation>Metallic</translation>
    </message>
    <message id="mediaSilverPearl">
        <source>Silver Pearl</source>
        <translation>Silver Pearl</translation>
    </message>
</context>
</TS>
