// A fresh folder for one test, made the working directory while the test runs.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

class RQTestTempDir {
public:
    RQTestTempDir() : m_old(std::filesystem::current_path()) {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() /
                 ("rqtest_" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
        std::filesystem::current_path(m_path);
    }
    ~RQTestTempDir() {
        std::error_code ec;
        std::filesystem::current_path(m_old, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    RQTestTempDir(const RQTestTempDir&) = delete;
    RQTestTempDir& operator=(const RQTestTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

    static std::vector<char> ReadAll(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void WriteAll(const std::filesystem::path& file, const std::string& strData) {
        std::filesystem::create_directories(file.parent_path().empty() ? "." : file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out << strData;
    }

private:
    std::filesystem::path m_old;
    std::filesystem::path m_path;
};
