// What both simulator doubles share: commands read from standard input on a thread of their
// own, one reply line each on standard output, and a clock for the sending loop.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class DoubleConsole {
public:
    DoubleConsole() {
        reader_ = std::thread([this] {
            for (std::string line; std::getline(std::cin, line);) {
                std::lock_guard<std::mutex> lock(mutex_);
                lines_.push_back(line);
            }
            ended_ = true;
        });
        reader_.detach();  // blocked in a read of standard input; the process ends it
    }

    // The next command's words, or false when none waits. Blank lines and "#" comments are
    // passed over.
    bool Next(std::vector<std::string>& words) {
        for (;;) {
            std::string line;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (lines_.empty()) return false;
                line = lines_.front();
                lines_.pop_front();
            }
            words.clear();
            std::istringstream in(line);
            for (std::string word; in >> word;) words.push_back(word);
            if (!words.empty() && words[0][0] != '#') return true;
        }
    }

    // Standard input ended (and every command of it was taken).
    bool Ended() {
        std::lock_guard<std::mutex> lock(mutex_);
        return ended_ && lines_.empty();
    }

    static void Say(const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

private:
    std::mutex mutex_;
    std::deque<std::string> lines_;
    std::atomic<bool> ended_{false};
    std::thread reader_;
};
