<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CamerasList</name>
    <message>
        <source>CamerasList</source>
        <translation>相机列表</translation>
    </message>
    <message>
        <source>Open a camera</source>
        <translation>打开相机</translation>
    </message>
    <message>
        <source>Camera List</source>
        <translation>相机列表</translation>
    </message>
    <message>
        <source>Search Cameras...</source>
        <translation>搜索相机...</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
</context>
<context>
    <name>InitDialog</name>
    <message>
        <source>Dialog</source>
        <translation>对话框</translation>
    </message>
    <message>
        <source>Version:1.0.0</source>
        <translation>Version:1.0.0</translation>
    </message>
    <message>
        <source>© 2026 Vexadin. All rights reserved.</source>
        <translation>© 2026 Vexadin 版权所有。</translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>Open Camera</source>
        <translation>打开相机</translation>
    </message>
    <message>
        <source>Camera Info</source>
        <translation>相机信息</translation>
    </message>
    <message>
        <source>Open Recording</source>
        <translation>打开录制文件</translation>
    </message>
    <message>
        <source>Save as...</source>
        <translation>另存为...</translation>
    </message>
    <message>
        <source>Cut Recording</source>
        <translation>裁剪录制文件</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>General Setting</source>
        <translation>通用设置</translation>
    </message>
    <message>
        <source>EN/中文</source>
        <translation>EN/中文</translation>
    </message>
    <message>
        <source>About us</source>
        <translation>关于我们</translation>
    </message>
    <message>
        <source>Toggle Start/End Point</source>
        <translation>切换起止点</translation>
    </message>
    <message>
        <source>Start/Stop recording</source>
        <translation>开始/停止录制</translation>
    </message>
    <message>
        <source>Previous frame</source>
        <translation>上一帧</translation>
    </message>
    <message>
        <source>Play/Stop</source>
        <translation>播放/暂停</translation>
    </message>
    <message>
        <source>Reset the playback progress to the beginning</source>
        <translation>将播放进度重置到开头</translation>
    </message>
    <message>
        <source>Next frame</source>
        <translation>下一帧</translation>
    </message>
    <message>
        <source>Select to automatically replay at the end of the playback</source>
        <translation>选中后播放结束时自动重新播放</translation>
    </message>
    <message>
        <source>Is it open in the browser?</source>
        <translation>是否在浏览器中打开？</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>The language change will take effect after restart.</source>
        <translation>语言切换将在重启后生效。</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>重启</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>稍后</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Select a raw file</source>
        <translation>选择 Raw 文件</translation>
    </message>
    <message>
        <source>RAW files (*.raw)</source>
        <translation>RAW 文件 (*.raw)</translation>
    </message>
    <message>
        <source>The Omnira camera firmware needs to be upgraded!</source>
        <translation>Omnira 相机固件需要升级！</translation>
    </message>
    <message>
        <source>Cannot open the fusion recording %1: its video or events cannot be read.</source>
        <translation>无法打开融合录制文件 %1：其视频或事件无法读取。</translation>
    </message>
    <message>
        <source>The calibration file %1 cannot be read; the current calibration is used.</source>
        <translation>无法读取标定文件 %1，将使用当前标定参数。</translation>
    </message>
    <message>
        <source>Event data from other tools (*.aedat *.aedat4 *.dat *.h5 *.hdf5 *.hdf *.txt *.csv)</source>
        <translation>其他工具的事件数据 (*.aedat *.aedat4 *.dat *.h5 *.hdf5 *.hdf *.txt *.csv)</translation>
    </message>
    <message>
        <source>Cannot import %1: %2</source>
        <translation>无法导入 %1：%2</translation>
    </message>
    <message>
        <source>%1 events outside the sensor were skipped.</source>
        <translation>已跳过 %1 个超出传感器范围的事件。</translation>
    </message>
    <message>
        <source>Please open a raw file first.</source>
        <translation>请先打开 Raw 文件。</translation>
    </message>
    <message>
        <source>Open camera: </source>
        <translation>打开相机：</translation>
    </message>
    <message>
        <source>failed.</source>
        <translation>失败。</translation>
    </message>
    <message>
        <source> Bandwidth: </source>
        <translation> 带宽：</translation>
    </message>
    <message>
        <source> Events: </source>
        <translation> 事件：</translation>
    </message>
    <message>
        <source>Save file success!</source>
        <translation>文件保存成功！</translation>
    </message>
    <message>
        <source>Recording could not be started.</source>
        <translation>无法开始录制。</translation>
    </message>
    <message>
        <source>Only one recording opens at a time: the other files were ignored.</source>
        <translation>一次只能打开一个录制文件：其余文件已忽略。</translation>
    </message>
    <message>
        <source>An export or cut is still running. Cancel it and quit?</source>
        <translation>导出或裁剪仍在进行。要取消并退出吗？</translation>
    </message>
    <message>
        <source>Cancel and quit</source>
        <translation>取消并退出</translation>
    </message>
    <message>
        <source>An export or cut is still running. Cancel it and restart?</source>
        <translation>导出或裁剪仍在进行。要取消并重启吗？</translation>
    </message>
    <message>
        <source>Cancel and restart</source>
        <translation>取消并重启</translation>
    </message>
    <message>
        <source>Keep working</source>
        <translation>继续工作</translation>
    </message>
</context>
<context>
    <name>PopWidget</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
</context>
<context>
    <name>SettingBaseWithComboBox</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Set item name</source>
        <translation>设置项名称</translation>
    </message>
</context>
<context>
    <name>SettingBaseWithLineEdit</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Set item name</source>
        <translation>设置项名称</translation>
    </message>
</context>
<context>
    <name>SettingBaseWithSwitchButton</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>启用</translation>
    </message>
</context>
<context>
    <name>SettingDisplayItem</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Accumulation time</source>
        <translation>累积时间</translation>
    </message>
    <message>
        <source>Slow Rate</source>
        <translation>慢放倍率</translation>
    </message>
</context>
<context>
    <name>SettingItemBox</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>标题</translation>
    </message>
</context>
<context>
    <name>ShowCameraInfoUI</name>
    <message>
        <source>Form</source>
        <translation>相机信息窗口</translation>
    </message>
    <message>
        <source>Camera Info</source>
        <translation>相机信息</translation>
    </message>
    <message>
        <source>Product: </source>
        <translation>产品：</translation>
    </message>
    <message>
        <source>Manufacturer:</source>
        <translation>制造商：</translation>
    </message>
    <message>
        <source>Firmware version :</source>
        <translation>固件版本：</translation>
    </message>
    <message>
        <source>Serial :</source>
        <translation>序列号：</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
<context>
    <name>ShowImageForm</name>
    <message>
        <source>ShowImageForm</source>
        <translation>图像视图</translation>
    </message>
</context>
<context>
    <name>SidebarApsSettingUI</name>
    <message>
        <source>SettingUI</source>
        <translation>设置界面</translation>
    </message>
    <message>
        <source>APS Setting</source>
        <translation>APS 设置</translation>
    </message>
    <message>
        <source>APS</source>
        <translation>APS 参数</translation>
    </message>
    <message>
        <source>APS Manual Calibration</source>
        <translation>APS 手动标定</translation>
    </message>
    <message>
        <source>Set aps offset x.</source>
        <translation>设置 APS 图像的 X 方向偏移。</translation>
    </message>
    <message>
        <source>Set aps offset y.</source>
        <translation>设置 APS 图像的 Y 方向偏移。</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>应用</translation>
    </message>
</context>
<context>
    <name>SidebarCameraSettingUI</name>
    <message>
        <source>SettingUI</source>
        <translation>设置界面</translation>
    </message>
    <message>
        <source>Camera Setting</source>
        <translation>相机设置</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>显示</translation>
    </message>
</context>
<context>
    <name>SidebarDvsSettingUI</name>
    <message>
        <source>SettingUI</source>
        <translation>设置界面</translation>
    </message>
    <message>
        <source>DVS Setting</source>
        <translation>DVS设置</translation>
    </message>
    <message>
        <source>Biases</source>
        <translation>偏置</translation>
    </message>
    <message>
        <source>Trigger In</source>
        <translation>触发输入</translation>
    </message>
    <message>
        <source>Anti Flicker</source>
        <translation>抗闪烁</translation>
    </message>
    <message>
        <source>Event Rate Control</source>
        <translation>事件率控制</translation>
    </message>
    <message>
        <source>Event Trail Filter</source>
        <translation>事件拖尾滤波</translation>
    </message>
    <message>
        <source>ROI</source>
        <translation>感兴趣区域</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>Load</source>
        <translation>加载</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>导出</translation>
    </message>
    <message>
        <source>Select a JSON file</source>
        <translation>选择JSON文件</translation>
    </message>
    <message>
        <source>Json file (*.json)</source>
        <translation>JSON文件 (*.json)</translation>
    </message>
    <message>
        <source>Camera parameters exported successfully.</source>
        <translation>相机参数导出成功。</translation>
    </message>
    <message>
        <source>Failed to export camera parameters.</source>
        <translation>相机参数导出失败。</translation>
    </message>
    <message>
        <source>Camera parameters loaded successfully.</source>
        <translation>相机参数加载成功。</translation>
    </message>
    <message>
        <source>Failed to load camera parameters.</source>
        <translation>相机参数加载失败。</translation>
    </message>
</context>
<context>
    <name>VXMessageBox</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>标题</translation>
    </message>
    <message>
        <source>Lorem Ipsum is simply dummy text of the printing and typesetting industry.</source>
        <translation>这是一段用于预览排版效果的示例文字。</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
</context>
<context>
    <name>VxComboBox</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
</context>
<context>
    <name>VxCutRawFile</name>
    <message>
        <source>VxCutRawFile</source>
        <translation>裁剪Raw文件</translation>
    </message>
    <message>
        <source>Cut Recording</source>
        <translation>裁剪Raw文件</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>开始时间</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>结束时间</translation>
    </message>
    <message>
        <source>Save File Path</source>
        <translation>保存路径</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>文件名</translation>
    </message>
    <message>
        <source>xxx.raw</source>
        <translation>xxx.raw</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>裁剪</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>选择目录</translation>
    </message>
</context>
<context>
    <name>VxEventProcessor</name>
    <message>
        <source>Export video success!</source>
        <translation>导出视频成功！</translation>
    </message>
    <message>
        <source>Export raw file success!</source>
        <translation>导出RAW文件成功！</translation>
    </message>
    <message>
        <source>Damaged data skipped, missing from the file: %1</source>
        <translation>已跳过损坏的数据，文件中缺少：%1</translation>
    </message>
</context>
<context>
    <name>VxExportVideoUI</name>
    <message>
        <source>VxExportVideoUI</source>
        <translation>导出视频</translation>
    </message>
    <message>
        <source>Export a video</source>
        <translation>导出视频</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>开始时间</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>结束时间</translation>
    </message>
    <message>
        <source>Save File Path</source>
        <translation>保存路径</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>文件名</translation>
    </message>
    <message>
        <source>xxx.mp4</source>
        <translation>xxx.mp4</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>导出</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>选择目录</translation>
    </message>
</context>
<context>
    <name>VxFilePathReminderForm</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Success</source>
        <translation>成功</translation>
    </message>
    <message>
        <source>Save File Success!</source>
        <translation>保存文件成功！</translation>
    </message>
    <message>
        <source>Open Dir</source>
        <translation>打开目录</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
</context>
<context>
    <name>VxFileRecorder</name>
    <message>
        <source>Recording file ... </source>
        <translation>正在录制文件... </translation>
    </message>
    <message>
        <source>Currently being recorded.</source>
        <translation>正在录制中。</translation>
    </message>
    <message>
        <source>Recording end</source>
        <translation>录制结束</translation>
    </message>
</context>
<context>
    <name>VxFusionCameraDataProcessor</name>
    <message>
        <source>Manual calibration parameters were written successfully!</source>
        <translation>手动标定参数写入成功！</translation>
    </message>
    <message>
        <source>Manual calibration parameters were written failed!</source>
        <translation>手动标定参数写入失败！</translation>
    </message>
</context>
<context>
    <name>VxGeneralSetting</name>
    <message>
        <source>VxGerenalSetting</source>
        <translation>通用设置</translation>
    </message>
    <message>
        <source>General Settings</source>
        <translation>通用设置</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Style</source>
        <translation>样式</translation>
    </message>
    <message>
        <source>Tab 1</source>
        <translation>Tab 1</translation>
    </message>
    <message>
        <source>File Settings</source>
        <translation>文件设置</translation>
    </message>
    <message>
        <source>Default Out Raw File Path</source>
        <translation>默认Raw文件输出路径</translation>
    </message>
    <message>
        <source>Default Video File Path</source>
        <translation>默认视频文件路径</translation>
    </message>
    <message>
        <source>Trigger In File Save Settings</source>
        <translation>触发输入文件保存设置</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>启用</translation>
    </message>
    <message>
        <source>Trigger Edge</source>
        <translation>触发边沿</translation>
    </message>
    <message>
        <source>Before Trigger In Save Time (sec):</source>
        <translation>触发前保存时长（秒）：</translation>
    </message>
    <message>
        <source>After Trigger In Save Time (sec):</source>
        <translation>触发后保存时长（秒）：</translation>
    </message>
    <message>
        <source>Tab 2</source>
        <translation>Tab 2</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>主题</translation>
    </message>
    <message>
        <source>Events Color</source>
        <translation>事件颜色</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Rising Edge</source>
        <translation>上升沿</translation>
    </message>
    <message>
        <source>Falling Edge</source>
        <translation>下降沿</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>选择目录</translation>
    </message>
</context>
<context>
    <name>WaitingWin</name>
    <message>
        <source>WaitingWin</source>
        <translation>请稍候</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>Widget</name>
    <message>
        <source>Widget</source>
        <translation>主窗口</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>Camera: </source>
        <translation>序列号：</translation>
    </message>
    <message>
        <source> | Time: </source>
        <translation> | 时间：</translation>
    </message>
    <message>
        <source>--/ --</source>
        <translation>--/ --</translation>
    </message>
    <message>
        <source>Bandwidth: Mbps</source>
        <translation>带宽：Mbps</translation>
    </message>
</context>
</TS>