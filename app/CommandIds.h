#pragma once

// Command identifiers of menus, toolbar, keys and panel buttons.
namespace cmd {
// Framework commands.
constexpr int FileNew = 57600;
constexpr int FileOpen = 57601;
constexpr int FileSave = 57603;
constexpr int FileSaveAs = 57604;
constexpr int FilePrintSetup = 57606;
constexpr int FilePrint = 57607;
constexpr int FilePrintDirect = 57608;
constexpr int FilePrintPreview = 57609;
constexpr int FileMru1 = 57616; // then 57617 ... for the other recent files
constexpr int EditCopy = 57634;
constexpr int EditCut = 57635;
constexpr int EditPaste = 57637;
constexpr int EditUndo = 57643;
constexpr int AppAbout = 57664;
constexpr int AppExit = 57665;
constexpr int NextPane = 57680;
constexpr int PrevPane = 57681;
constexpr int ViewToolbar = 59392;
constexpr int ViewStatusBar = 59393;

// The view's commands.
constexpr int AcquireOne = 32772;
constexpr int LoopStart = 32773;
constexpr int LoopStop = 32774;
constexpr int CameraParams = 32778;
constexpr int SequenceParams = 32780;
constexpr int LoopPause = 32782;
constexpr int ShowVisu = 32783;
constexpr int ShowStats = 32784;
constexpr int ShowInfo = 32785;
constexpr int InitCamera = 32786;
constexpr int GuidingParams = 32788;
constexpr int GuidingParamsButton = 32789; // toolbar only; nothing handles it
constexpr int ShowGuiding = 32790;
constexpr int StartCumul = 32792;
constexpr int SerialPortDialog = 32800;
constexpr int AutoLevels = 32801;
constexpr int AutoLevelsOnNewImage = 32802;
constexpr int ShowGuideGraph = 32803;
constexpr int ShowFocus = 32804;
constexpr int ZoomIn = 32805;
constexpr int ZoomOut = 32806;
constexpr int ZoomActualSize = 32807;
constexpr int ZoomFit = 32808;
constexpr int NightVision = 32809;
constexpr int FullFitsHeaders = 32810;
constexpr int GuidingStart = 1047; // guiding panel buttons
constexpr int GuidingStop = 1048;
} // namespace cmd

// Length of the recent-file list.
constexpr int kRecentFileCount = 4;
