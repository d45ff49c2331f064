#include "AboutDlg.h"

#include "resource.h"

CAboutDlg::CAboutDlg(HWND parent) noexcept : CDialog(IDD_ABOUTBOX, parent) {}

CAboutDlg::~CAboutDlg() = default;
