#pragma once

#include <string>
#include <vector>

// Which files each tool accepts, as lower-case extensions without their dot.
// The four kind tables share no extension; their order is the order in which
// they are reported and concatenated.
inline const std::vector<std::string> kImageExts = {"jpg", "jpeg", "png", "webp", "gif"};
inline const std::vector<std::string> kVideoExts = {"mp4", "mov", "webm", "m4v", "mkv", "avi"};
inline const std::vector<std::string> kAudioExts = {"mp3", "wav", "m4a", "aac", "flac", "ogg"};
inline const std::vector<std::string> kDocExts = {"pdf", "txt",  "md",  "docx", "pptx", "xlsx",
                                                  "csv", "json", "srt", "vtt",  "psd",  "ai"};
// What a storyboard plan takes: no gif, no mkv or avi.
inline const std::vector<std::string> kPlanExts = {"jpg", "jpeg", "png", "webp", "mp4", "mov", "webm", "m4v"};
// What an asset card takes as its picture: no gif.
inline const std::vector<std::string> kCardImageExts = {"jpg", "jpeg", "png", "webp"};
