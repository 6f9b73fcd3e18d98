// A serial device that misbehaves under the line reader: it vanishes in the
// middle of a line, sends binary noise, sends a megabyte without a line end,
// never ends a line at all or floods empty lines. The reader must end with
// the device's error, discard what cannot be a line, keep its memory bounded
// and never hang.
#include "FaultTestSupport.h"

#include "PseudoTerminal.h"
#include "SimpleSerial.h"

#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>

#include <sys/resource.h>

#include <chrono>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;

// The runs without a line end are 16 MB long, and the reader may grow by at
// most a quarter of that: a reader that held a run would grow by all of it,
// while the sanitizers' own bookkeeping of the reader thread stays below.
constexpr size_t kRunBytes = 16 * 1024 * 1024;
constexpr long kGrowthBoundKb = kRunBytes / 4 / 1024;

long PeakResidentKb()
{
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    return Usage.ru_maxrss;
}

class SerialFaultTest : public ::testing::Test
{
protected:
    // Reads lines on another thread until one equals sWanted (true), the
    // device fails (false, the reason kept) or nMaxLines lines came.
    std::future<bool> ReadUntil(const std::string& sWanted, int nMaxLines = 100000)
    {
        return std::async(std::launch::async,
                          [this, sWanted, nMaxLines]
                          {
                              try
                              {
                                  for (int i = 0; i < nMaxLines; ++i)
                                      if (Check(Reader.readString()) == sWanted)
                                          return true;
                              }
                              catch (const boost::system::system_error& e)
                              {
                                  sError = e.code().message();
                              }
                              return false;
                          });
    }

    // Every line the reader hands out is whole and within the bound.
    std::string Check(const std::string& sLine)
    {
        EXPECT_LE(sLine.size(), SimpleSerial::kMaxLineLength);
        EXPECT_EQ(sLine.substr(sLine.size() < 2 ? 0 : sLine.size() - 2), "\r\n");
        return sLine;
    }

    // The bytes in the pieces Send writes, made before a test measures its
    // memory, so that only the reader's own use shows.
    static std::vector<std::string> Pieces(const std::string& sBytes)
    {
        std::vector<std::string> Result;
        for (size_t nAt = 0; nAt < sBytes.size(); nAt += 65536)
            Result.push_back(sBytes.substr(nAt, 65536));
        return Result;
    }

    // Writes the pieces, each allowed to wait for the reader.
    void Send(const std::vector<std::string>& Bytes)
    {
        for (const std::string& sPiece : Bytes)
            ASSERT_EQ(Pty.write(sPiece, 10s), PseudoTerminal::WriteResult::Written);
    }
    void Send(const std::string& sBytes) { Send(Pieces(sBytes)); }

    static bool Within(std::future<bool>& Result, std::chrono::seconds Bound = 20s)
    {
        return Result.wait_for(Bound) == std::future_status::ready;
    }

    // A reader still blocked after a failed check ends with the device, so
    // that its future does not wait for ever.
    void TearDown() override { Pty.close(); }

    PseudoTerminal Pty;
    SimpleSerial Reader{Pty.farEndPath(), 19200};
    std::string sError;
};

TEST_F(SerialFaultTest, DeviceThatVanishesInTheMiddleOfALineEndsTheReadWithItsError)
{
    auto Result = ReadUntil("never");
    Send("$GPGGA,123519,4807.0");
    std::this_thread::sleep_for(50ms); // let the reader take the half line
    Pty.close();
    ASSERT_TRUE(Within(Result)) << "the reader hangs on a vanished device";
    EXPECT_FALSE(Result.get());
    EXPECT_FALSE(sError.empty());
}

TEST_F(SerialFaultTest, BinaryNoiseIsCutIntoLinesOrDiscardedAndTheNextSentenceComes)
{
    std::mt19937 Random(7);
    std::string sNoise(256 * 1024, '\0');
    for (char& c : sNoise)
        c = static_cast<char>(Random());
    auto Result = ReadUntil("$GPGGA,after,noise\r\n");
    Send(sNoise + "\r\n$GPGGA,after,noise\r\n");
    ASSERT_TRUE(Within(Result));
    EXPECT_TRUE(Result.get()) << sError;
}

TEST_F(SerialFaultTest, MegabyteWithoutLineEndIsDiscardedInBoundedMemory)
{
    const auto Bytes = Pieces(std::string(kRunBytes, 'A') + "\r\n$GPGGA,after,run\r\n");
    const long nPeakBefore = PeakResidentKb();
    auto Result = ReadUntil("$GPGGA,after,run\r\n");
    Send(Bytes);
    ASSERT_TRUE(Within(Result));
    EXPECT_TRUE(Result.get()) << sError;
    EXPECT_GE(Reader.discardedRuns(), 1u);
    EXPECT_LT(PeakResidentKb() - nPeakBefore, kGrowthBoundKb) << "the reader held the whole run";
}

TEST_F(SerialFaultTest, DeviceThatNeverEndsALineKeepsTheReaderBoundedUntilItCloses)
{
    std::vector<std::string> Bytes;
    for (size_t i = 0; i < kRunBytes / 65536; ++i)
        Bytes.emplace_back(65536, static_cast<char>('a' + i % 26));
    const long nPeakBefore = PeakResidentKb();
    auto Result = ReadUntil("never");
    Send(Bytes);
    EXPECT_EQ(Result.wait_for(0s), std::future_status::timeout) << "a line without CR LF came out";
    Pty.close();
    ASSERT_TRUE(Within(Result));
    EXPECT_FALSE(Result.get());
    EXPECT_GE(Reader.discardedRuns(), 1u);
    EXPECT_LT(PeakResidentKb() - nPeakBefore, kGrowthBoundKb);
}

TEST_F(SerialFaultTest, FloodOfEmptyLinesKeepsTheReaderBounded)
{
    // The shortest lines there are, each one an entry the reader keeps until
    // it is taken: 16 MB of them, taken one a call.
    std::string sFlood;
    sFlood.reserve(kRunBytes + 32);
    for (size_t i = 0; i < kRunBytes / 2; ++i)
        sFlood += "\r\n";
    const auto Bytes = Pieces(sFlood + "$GPGGA,after,flood\r\n");
    sFlood.clear();
    sFlood.shrink_to_fit();
    const long nPeakBefore = PeakResidentKb();
    auto Result = ReadUntil("$GPGGA,after,flood\r\n", kRunBytes);
    Send(Bytes);
    ASSERT_TRUE(Within(Result));
    EXPECT_TRUE(Result.get()) << sError;
    // Each line waiting costs a mark of 16 bytes besides its two, and the
    // marks grow by doubling (AddressSanitizer keeps the outgrown blocks), so
    // the margin is wider here; a reader that held the flood would take
    // eight times that.
    EXPECT_LT(PeakResidentKb() - nPeakBefore, 2 * kGrowthBoundKb) << "the reader held the flood";
}

} // namespace
