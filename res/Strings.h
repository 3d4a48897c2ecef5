#pragma once

#include <string_view>

// Texts of the program that more than one place uses, and the maker's endpoints.
namespace res {

constexpr std::string_view kAboutMenuItem = "&About Tunestead...";  // string 101

// The program's own name: the caption of message boxes that name none of their own.
constexpr std::string_view kAppName = "键乐坊";

constexpr std::string_view kTitleNoDevice = "键乐坊 -- 未插设备";
constexpr std::string_view kTitleWorking = "键乐坊 -- 正常工作中";

// The maker's site is a reserved name so that no stranger's server is ever reached.
constexpr std::string_view kSiteHost = "www.tunestead.example";
constexpr std::string_view kSiteHome = "http://www.tunestead.example";
constexpr std::string_view kProductPath = "/PD/TONEBENCH/TONEBENCH.htm";
constexpr std::string_view kAnnouncementPath = "/PD/TONEBENCH/AdWords.txt";
constexpr std::string_view kEmail = "support@tunestead.example";

constexpr std::string_view kCannotInitializeSynth =
    "Can't initialize the synthesizer.\nEnsure you have an audio output device and a General MIDI "
    "SoundFont installed in your system.";
constexpr std::string_view kPortInitError = "Error during the music port objects initialization";
constexpr std::string_view kMemoryAllocationFailed = "Memory allocation failed";
constexpr std::string_view kInsufficientMemory = "Insufficient memory to complete the task";
constexpr std::string_view kNoInstrument = "No instrument with that index";
constexpr std::string_view kInvalidPatch = "Invalid patch in collection";
constexpr std::string_view kOutputActivationError =
    "An error happened during the output port activation";

}  // namespace res
