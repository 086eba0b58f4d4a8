<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>CamerasList</name>
    <message>
        <source>CamerasList</source>
        <translation>CamerasList</translation>
    </message>
    <message>
        <source>Open a camera</source>
        <translation>Open a camera</translation>
    </message>
    <message>
        <source>Camera List</source>
        <translation>Camera List</translation>
    </message>
    <message>
        <source>Search Cameras...</source>
        <translation>Search Cameras...</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>InitDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Version:1.0.0</source>
        <translation>Version:1.0.0</translation>
    </message>
    <message>
        <source>© 2026 Vexadin. All rights reserved.</source>
        <translation>© 2026 Vexadin. All rights reserved.</translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>Open Camera</source>
        <translation>Open Camera</translation>
    </message>
    <message>
        <source>Camera Info</source>
        <translation>Camera Info</translation>
    </message>
    <message>
        <source>Open Recording</source>
        <translation>Open Recording</translation>
    </message>
    <message>
        <source>Save as...</source>
        <translation>Save as...</translation>
    </message>
    <message>
        <source>Cut Recording</source>
        <translation>Cut Recording</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>General Setting</source>
        <translation>General Setting</translation>
    </message>
    <message>
        <source>EN/中文</source>
        <translation>EN/中文</translation>
    </message>
    <message>
        <source>About us</source>
        <translation>About us</translation>
    </message>
    <message>
        <source>Toggle Start/End Point</source>
        <translation>Toggle Start/End Point</translation>
    </message>
    <message>
        <source>Start/Stop recording</source>
        <translation>Start/Stop recording</translation>
    </message>
    <message>
        <source>Previous frame</source>
        <translation>Previous frame</translation>
    </message>
    <message>
        <source>Play/Stop</source>
        <translation>Play/Stop</translation>
    </message>
    <message>
        <source>Reset the playback progress to the beginning</source>
        <translation>Reset the playback progress to the beginning</translation>
    </message>
    <message>
        <source>Next frame</source>
        <translation>Next frame</translation>
    </message>
    <message>
        <source>Select to automatically replay at the end of the playback</source>
        <translation>Select to automatically replay at the end of the playback</translation>
    </message>
    <message>
        <source>Is it open in the browser?</source>
        <translation>Is it open in the browser?</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>The language change will take effect after restart.</source>
        <translation>The language change will take effect after restart.</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>Restart</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Later</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>Tips</translation>
    </message>
    <message>
        <source>Select a raw file</source>
        <translation>Select a raw file</translation>
    </message>
    <message>
        <source>RAW files (*.raw)</source>
        <translation>RAW files (*.raw)</translation>
    </message>
    <message>
        <source>The Omnira camera firmware needs to be upgraded!</source>
        <translation>The Omnira camera firmware needs to be upgraded!</translation>
    </message>
    <message>
        <source>Cannot open the fusion recording %1: its video or events cannot be read.</source>
        <translation>Cannot open the fusion recording %1: its video or events cannot be read.</translation>
    </message>
    <message>
        <source>The calibration file %1 cannot be read; the current calibration is used.</source>
        <translation>The calibration file %1 cannot be read; the current calibration is used.</translation>
    </message>
    <message>
        <source>Event data from other tools (*.aedat *.aedat4 *.dat *.h5 *.hdf5 *.hdf *.txt *.csv)</source>
        <translation>Event data from other tools (*.aedat *.aedat4 *.dat *.h5 *.hdf5 *.hdf *.txt *.csv)</translation>
    </message>
    <message>
        <source>Cannot import %1: %2</source>
        <translation>Cannot import %1: %2</translation>
    </message>
    <message>
        <source>%1 events outside the sensor were skipped.</source>
        <translation>%1 events outside the sensor were skipped.</translation>
    </message>
    <message>
        <source>Please open a raw file first.</source>
        <translation>Please open a raw file first.</translation>
    </message>
    <message>
        <source>Open camera: </source>
        <translation>Open camera: </translation>
    </message>
    <message>
        <source>failed.</source>
        <translation>failed.</translation>
    </message>
    <message>
        <source> Bandwidth: </source>
        <translation> Bandwidth: </translation>
    </message>
    <message>
        <source> Events: </source>
        <translation> Events: </translation>
    </message>
    <message>
        <source>Save file success!</source>
        <translation>Save file success!</translation>
    </message>
    <message>
        <source>Recording could not be started.</source>
        <translation>Recording could not be started.</translation>
    </message>
    <message>
        <source>Only one recording opens at a time: the other files were ignored.</source>
        <translation>Only one recording opens at a time: the other files were ignored.</translation>
    </message>
    <message>
        <source>An export or cut is still running. Cancel it and quit?</source>
        <translation>An export or cut is still running. Cancel it and quit?</translation>
    </message>
    <message>
        <source>Cancel and quit</source>
        <translation>Cancel and quit</translation>
    </message>
    <message>
        <source>An export or cut is still running. Cancel it and restart?</source>
        <translation>An export or cut is still running. Cancel it and restart?</translation>
    </message>
    <message>
        <source>Cancel and restart</source>
        <translation>Cancel and restart</translation>
    </message>
    <message>
        <source>Keep working</source>
        <translation>Keep working</translation>
    </message>
</context>
<context>
    <name>PopWidget</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
<context>
    <name>SettingBaseWithComboBox</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Set item name</source>
        <translation>Set item name</translation>
    </message>
</context>
<context>
    <name>SettingBaseWithLineEdit</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Set item name</source>
        <translation>Set item name</translation>
    </message>
</context>
<context>
    <name>SettingBaseWithSwitchButton</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>Enable</translation>
    </message>
</context>
<context>
    <name>SettingDisplayItem</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Accumulation time</source>
        <translation>Accumulation time</translation>
    </message>
    <message>
        <source>Slow Rate</source>
        <translation>Slow Rate</translation>
    </message>
</context>
<context>
    <name>SettingItemBox</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Title</translation>
    </message>
</context>
<context>
    <name>ShowCameraInfoUI</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Camera Info</source>
        <translation>Camera Info</translation>
    </message>
    <message>
        <source>Product: </source>
        <translation>Product: </translation>
    </message>
    <message>
        <source>Manufacturer:</source>
        <translation>Manufacturer:</translation>
    </message>
    <message>
        <source>Firmware version :</source>
        <translation>Firmware version :</translation>
    </message>
    <message>
        <source>Serial :</source>
        <translation>Serial :</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>ShowImageForm</name>
    <message>
        <source>ShowImageForm</source>
        <translation>ShowImageForm</translation>
    </message>
</context>
<context>
    <name>SidebarApsSettingUI</name>
    <message>
        <source>SettingUI</source>
        <translation>SettingUI</translation>
    </message>
    <message>
        <source>APS Setting</source>
        <translation>APS Setting</translation>
    </message>
    <message>
        <source>APS</source>
        <translation>APS</translation>
    </message>
    <message>
        <source>APS Manual Calibration</source>
        <translation>APS Manual Calibration</translation>
    </message>
    <message>
        <source>Set aps offset x.</source>
        <translation>Set aps offset x.</translation>
    </message>
    <message>
        <source>Set aps offset y.</source>
        <translation>Set aps offset y.</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Apply</translation>
    </message>
</context>
<context>
    <name>SidebarCameraSettingUI</name>
    <message>
        <source>SettingUI</source>
        <translation>SettingUI</translation>
    </message>
    <message>
        <source>Camera Setting</source>
        <translation>Camera Setting</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>Display</translation>
    </message>
</context>
<context>
    <name>SidebarDvsSettingUI</name>
    <message>
        <source>SettingUI</source>
        <translation>SettingUI</translation>
    </message>
    <message>
        <source>DVS Setting</source>
        <translation>DVS Setting</translation>
    </message>
    <message>
        <source>Biases</source>
        <translation>Biases</translation>
    </message>
    <message>
        <source>Trigger In</source>
        <translation>Trigger In</translation>
    </message>
    <message>
        <source>Anti Flicker</source>
        <translation>Anti Flicker</translation>
    </message>
    <message>
        <source>Event Rate Control</source>
        <translation>Event Rate Control</translation>
    </message>
    <message>
        <source>Event Trail Filter</source>
        <translation>Event Trail Filter</translation>
    </message>
    <message>
        <source>ROI</source>
        <translation>ROI</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>Load</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>Select a JSON file</source>
        <translation>Select a JSON file</translation>
    </message>
    <message>
        <source>Json file (*.json)</source>
        <translation>Json file (*.json)</translation>
    </message>
    <message>
        <source>Camera parameters exported successfully.</source>
        <translation>Camera parameters exported successfully.</translation>
    </message>
    <message>
        <source>Failed to export camera parameters.</source>
        <translation>Failed to export camera parameters.</translation>
    </message>
    <message>
        <source>Camera parameters loaded successfully.</source>
        <translation>Camera parameters loaded successfully.</translation>
    </message>
    <message>
        <source>Failed to load camera parameters.</source>
        <translation>Failed to load camera parameters.</translation>
    </message>
</context>
<context>
    <name>VXMessageBox</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Title</translation>
    </message>
    <message>
        <source>Lorem Ipsum is simply dummy text of the printing and typesetting industry.</source>
        <translation>Lorem Ipsum is simply dummy text of the printing and typesetting industry.</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>VxComboBox</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
<context>
    <name>VxCutRawFile</name>
    <message>
        <source>VxCutRawFile</source>
        <translation>VxCutRawFile</translation>
    </message>
    <message>
        <source>Cut Recording</source>
        <translation>Cut Recording</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>Start Time</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>End Time</translation>
    </message>
    <message>
        <source>Save File Path</source>
        <translation>Save File Path</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>File Name</translation>
    </message>
    <message>
        <source>xxx.raw</source>
        <translation>xxx.raw</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>Select Directory</translation>
    </message>
</context>
<context>
    <name>VxEventProcessor</name>
    <message>
        <source>Export video success!</source>
        <translation>Export video success!</translation>
    </message>
    <message>
        <source>Export raw file success!</source>
        <translation>Export raw file success!</translation>
    </message>
    <message>
        <source>Damaged data skipped, missing from the file: %1</source>
        <translation>Damaged data skipped, missing from the file: %1</translation>
    </message>
</context>
<context>
    <name>VxExportVideoUI</name>
    <message>
        <source>VxExportVideoUI</source>
        <translation>VxExportVideoUI</translation>
    </message>
    <message>
        <source>Export a video</source>
        <translation>Export a video</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>Start Time</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>End Time</translation>
    </message>
    <message>
        <source>Save File Path</source>
        <translation>Save File Path</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>File Name</translation>
    </message>
    <message>
        <source>xxx.mp4</source>
        <translation>xxx.mp4</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>Select Directory</translation>
    </message>
</context>
<context>
    <name>VxFilePathReminderForm</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Success</source>
        <translation>Success</translation>
    </message>
    <message>
        <source>Save File Success!</source>
        <translation>Save File Success!</translation>
    </message>
    <message>
        <source>Open Dir</source>
        <translation>Open Dir</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
</context>
<context>
    <name>VxFileRecorder</name>
    <message>
        <source>Recording file ... </source>
        <translation>Recording file ... </translation>
    </message>
    <message>
        <source>Currently being recorded.</source>
        <translation>Currently being recorded.</translation>
    </message>
    <message>
        <source>Recording end</source>
        <translation>Recording end</translation>
    </message>
</context>
<context>
    <name>VxFusionCameraDataProcessor</name>
    <message>
        <source>Manual calibration parameters were written successfully!</source>
        <translation>Manual calibration parameters were written successfully!</translation>
    </message>
    <message>
        <source>Manual calibration parameters were written failed!</source>
        <translation>Manual calibration parameters were written failed!</translation>
    </message>
</context>
<context>
    <name>VxGeneralSetting</name>
    <message>
        <source>VxGerenalSetting</source>
        <translation>VxGerenalSetting</translation>
    </message>
    <message>
        <source>General Settings</source>
        <translation>General Settings</translation>
    </message>
    <message>
        <source>File</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Style</source>
        <translation>Style</translation>
    </message>
    <message>
        <source>Tab 1</source>
        <translation>Tab 1</translation>
    </message>
    <message>
        <source>File Settings</source>
        <translation>File Settings</translation>
    </message>
    <message>
        <source>Default Out Raw File Path</source>
        <translation>Default Out Raw File Path</translation>
    </message>
    <message>
        <source>Default Video File Path</source>
        <translation>Default Video File Path</translation>
    </message>
    <message>
        <source>Trigger In File Save Settings</source>
        <translation>Trigger In File Save Settings</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>Enable</translation>
    </message>
    <message>
        <source>Trigger Edge</source>
        <translation>Trigger Edge</translation>
    </message>
    <message>
        <source>Before Trigger In Save Time (sec):</source>
        <translation>Before Trigger In Save Time (sec):</translation>
    </message>
    <message>
        <source>After Trigger In Save Time (sec):</source>
        <translation>After Trigger In Save Time (sec):</translation>
    </message>
    <message>
        <source>Tab 2</source>
        <translation>Tab 2</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>Theme</translation>
    </message>
    <message>
        <source>Events Color</source>
        <translation>Events Color</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Rising Edge</source>
        <translation>Rising Edge</translation>
    </message>
    <message>
        <source>Falling Edge</source>
        <translation>Falling Edge</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>Select Directory</translation>
    </message>
</context>
<context>
    <name>WaitingWin</name>
    <message>
        <source>WaitingWin</source>
        <translation>WaitingWin</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>Widget</name>
    <message>
        <source>Widget</source>
        <translation>Widget</translation>
    </message>
    <message>
        <source>File</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Camera: </source>
        <translation>Camera: </translation>
    </message>
    <message>
        <source> | Time: </source>
        <translation> | Time: </translation>
    </message>
    <message>
        <source>--/ --</source>
        <translation>--/ --</translation>
    </message>
    <message>
        <source>Bandwidth: Mbps</source>
        <translation>Bandwidth: Mbps</translation>
    </message>
</context>
</TS>