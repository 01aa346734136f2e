#include "globals.h"

QString applicationFolder;
QString skinFile;

const char* const versionString = "3.1.0";
const char* const homePageAddress = "https://glassmere.example.org";
const char* const helpPageAddress = "https://glassmere.example.org/help/";
const char* const supportMailAddress = "help@glassmere.example";
const char* const noticeText = "Copyright (C) 2026 The Glassmere developers";
