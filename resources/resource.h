// Dialog, control, icon and string numbers of the updater. Shared by the .rc files
// and the code, so every number is named exactly once.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_CLOSEAPPS 102
#define IDD_UPDATER 130

// Icons: 129 is the close-applications dialog's (16x16), 134 the updater's (32x32).
#define IDI_CLOSEAPPS 129
#define IDI_UPDATER 134
// The About box names an icon that the updater does not carry; it shows none.
#define IDI_ABOUT_MISSING 128

// Updater dialog controls.
#define IDC_START 1
#define IDC_CANCEL 2
#define IDC_INSTALL 3
#define IDC_PROGRESS 1001
#define IDC_STATUS 1002

// Close-applications dialog controls.
#define IDC_CLOSEAPPS_OK 1
#define IDC_IGNORE 2
#define IDC_RETRY 4
#define IDC_APPLIST 1000
#define IDC_PROMPT 1003

// About box.
#define IDC_ABOUT_OK 1

// System-menu command that opens the About box.
#define IDM_ABOUTBOX 0x0010

// The updater's own string table.
#define IDS_ABOUTBOX 101

// Strings of the language module.
#define IDS_MANAGER_ENTRY 123
#define IDS_OK_LABEL 437
#define IDS_CHECKING 514
#define IDS_CAPTION 515
#define IDS_UPDATE_QUESTION 516
#define IDS_UP_TO_DATE 517
#define IDS_DOWNLOADING 518
#define IDS_DOWNLOAD_OK 519
#define IDS_DOWNLOAD_FAILED 520
#define IDS_START_LABEL 521
#define IDS_READY 522
#define IDS_PACKAGE_NAME 524
#define IDS_DOWNLOAD_BASE_URL 525
#define IDS_SERVER_UNREACHABLE 526
#define IDS_CHECK_ENDED 527
#define IDS_INSTALL_LABEL 528
#define IDS_CANCEL_LABEL 529
#define IDS_CLOSEAPPS_PROMPT 531
#define IDS_RETRY_LABEL 532
#define IDS_IGNORE_LABEL 533
// Verification of signed updates; each falls back to an older text where a language
// module lacks it (526, 520 and 520).
#define IDS_UPDATE_INFO_UNVERIFIED 534
#define IDS_DOWNLOAD_UNVERIFIED 535
#define IDS_INSTALL_REFUSED 536
// A system whose CryptoAPI has no SHA-256 cannot check any update (falls back to 534,
// then 526); the shell could not start a verified package (falls back to 520); the
// update information is past its expiry (falls back to 534, then 526).
#define IDS_CANNOT_VERIFY_ON_THIS_WINDOWS 537
#define IDS_PACKAGE_NOT_STARTED 538
#define IDS_UPDATE_INFO_EXPIRED 539
// The package could not be made ready for the hand-off on this computer (falls back to
// 536, then 520).
#define IDS_HANDOFF_NOT_PREPARED 540

// The vendor's public keys (DER), one RCDATA resource each, numbered on from here.
#define IDR_SIGNING_KEY_FIRST 200
// The vendor's code-signing keys that an installer must be signed with: the SHA-256 of
// each one's SubjectPublicKeyInfo, 32 bytes of RCDATA each, numbered on from here. A
// build without code signing carries IDR_INSTALLER_SIGNATURE_UNCHECKED instead.
#define IDR_INSTALLER_SIGNATURE_UNCHECKED 219
#define IDR_INSTALLER_SIGNER_FIRST 220
// The keys that sign the update information's freshness part (its expiry), DER, one
// RCDATA resource each, numbered on from here.
#define IDR_FRESHNESS_KEY_FIRST 240

// Controls that are never addressed.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
