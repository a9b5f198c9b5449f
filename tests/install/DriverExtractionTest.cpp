// The driver image taken from the program file: the two reads, "Version" and "Sum", the
// signature in the second piece only, and the driver file written whole or not at all.
#include "InstallerFixture.h"

#include <algorithm>

namespace tavro::testing {
namespace {

using Extraction = InstallerFixture;

uint32_t SumOf(const std::string& bytes, size_t length) {
    return PackageSum(reinterpret_cast<const uint8_t*>(bytes.data()),
                      static_cast<uint32_t>(std::min(length, bytes.size())));
}

TEST_F(Extraction, WritesTheDriverFromTheSignatureInTheSecondPiece) {
    ASSERT_TRUE(installer_.ExtractDriver(false));
    EXPECT_TRUE(Messages().empty());
    // The program's own signature at offset 0 is in the first piece and does not count; the
    // driver's second signature, in its middle, is part of it.
    EXPECT_EQ(files_.Contents(driverFile), DriverImage(driverSize));
    EXPECT_EQ(files_.OpenFiles(), 0u);
}

TEST_F(Extraction, ReplacesALongerOldDriverWhole) {
    files_.AddFile(driverFile, std::string(60000, 'x'));
    ASSERT_TRUE(installer_.ExtractDriver(false));
    EXPECT_EQ(files_.Contents(driverFile), DriverImage(driverSize));
}

TEST_F(Extraction, AnOldDriverThatCannotBeDeletedIsStillOverwrittenWhole) {
    files_.AddFile(driverFile, std::string(60000, 'x'));
    // Held open by someone else without delete sharing: the deletion fails, the create empties.
    uint32_t error = 0;
    auto holder =
        files_.OpenForWriting(driverFile.c_str(), platform::FileDisposition::CreateAlways, error);
    ASSERT_NE(holder, nullptr);
    EXPECT_TRUE(installer_.ExtractDriver(false));
    holder.reset();
    EXPECT_EQ(files_.Contents(driverFile), DriverImage(driverSize));
}

TEST_F(Extraction, FindsADriverBeginningRightAtTheSecondPieceOrBehindAShortHub) {
    // A hub image exactly as long as the first piece.
    SetProgram(HubImage(packageFirstPiece) + DriverImage(driverSize));
    ASSERT_TRUE(installer_.ExtractDriver(false));
    EXPECT_EQ(files_.Contents(driverFile), DriverImage(driverSize));

    // A short hub padded with blanks to the first piece, as the build pads it.
    SetProgram(HubImage(20000) + std::string(packageFirstPiece - 20000, ' ') +
               DriverImage(driverSize));
    ASSERT_TRUE(installer_.ExtractDriver(false));
    EXPECT_EQ(files_.Contents(driverFile), DriverImage(driverSize));
}

TEST_F(Extraction, ReadsNoFurtherThanTheWindow) {
    // A package the build would refuse: the driver runs past 157,696 bytes and is cut there.
    const size_t hubSize = packageWindow - driverSize / 2;
    SetProgram(HubImage(hubSize) + DriverImage(driverSize));
    ASSERT_TRUE(installer_.ExtractDriver(false));
    EXPECT_EQ(files_.Contents(driverFile),
              DriverImage(driverSize).substr(0, packageWindow - hubSize));
}

TEST_F(Extraction, ReadsThatReturnLittleAtATimeGiveTheSameDriver) {
    files_.LimitReads(1000);
    ASSERT_TRUE(installer_.ExtractDriver(false));
    EXPECT_EQ(files_.Contents(driverFile), ExpectedDriver());
    EXPECT_EQ(settings_.sum, SumOf(program_, packageFirstPiece));
}

TEST_F(Extraction, AProgramWithoutADriverWritesNothing) {
    SetProgram(HubImage(hubSize));
    EXPECT_FALSE(installer_.ExtractDriver(false));
    EXPECT_EQ(Messages(), std::vector<std::string>{"Error: Unable to find Tavro.sys in archive"});
    EXPECT_FALSE(files_.HasFile(driverFile));
    for (const std::string& call : files_.Calls()) {
        EXPECT_EQ(call.find("RemoveFile"), std::string::npos) << call;
        EXPECT_EQ(call.find("OpenForWriting"), std::string::npos) << call;
    }
    EXPECT_EQ(files_.OpenFiles(), 0u);
}

TEST_F(Extraction, ASignatureOnlyInTheFirstPieceOrCutAtTheEndIsNoDriver) {
    // A driver appended to a short hub without padding lies in the first piece.
    SetProgram(HubImage(20000) + DriverImage(driverSize));
    EXPECT_FALSE(installer_.ExtractDriver(false));
    // Three bytes of the signature at the very end of the file.
    SetProgram(HubImage(hubSize) + std::string("\x4D\x5A\x90", 3));
    EXPECT_FALSE(installer_.ExtractDriver(false));
    EXPECT_EQ(Messages(),
              std::vector<std::string>(2, "Error: Unable to find Tavro.sys in archive"));
}

TEST_F(Extraction, AProgramFileThatCannotBeOpenedOrReadIsReported) {
    files_.FailReadOpens(1, error::sharingViolation);
    EXPECT_FALSE(installer_.ExtractDriver(false));

    // A module path that does not fit the 255 characters asked for.
    files_.SetModulePath("C:\\" + std::string(300, 'a') + "\\Tavro.exe");
    EXPECT_FALSE(installer_.ExtractDriver(true));

    EXPECT_EQ(Messages(), std::vector<std::string>(2, "Error: Unable to open Tavro archive"));
    EXPECT_FALSE(files_.HasFile(driverFile));
}

TEST_F(Extraction, CheckOnlyFindsTheDriverAndTouchesNoFile) {
    files_.AddFile(driverFile, "old");
    EXPECT_TRUE(installer_.ExtractDriver(true));
    EXPECT_EQ(files_.Contents(driverFile), "old");
    EXPECT_TRUE(Messages().empty());

    SetProgram(HubImage(hubSize));
    EXPECT_FALSE(installer_.ExtractDriver(true));
    EXPECT_EQ(Messages(), std::vector<std::string>{"Error: Unable to find Tavro.sys in archive"});
}

TEST_F(Extraction, WithoutRightsToTheDriverFolderNothingIsWritten) {
    files_.ProtectDirectory(driversDirectory);
    files_.AddFile(driverFile, "old");
    EXPECT_FALSE(installer_.ExtractDriver(false));
    EXPECT_EQ(Messages(), std::vector<std::string>{"Error: You do not have proper rights"});
    EXPECT_EQ(files_.Contents(driverFile), "old");
}

TEST_F(Extraction, WithoutASystemDirectoryNothingIsWritten) {
    files_.SetSystemDirectory("");
    EXPECT_FALSE(installer_.ExtractDriver(false));
    EXPECT_EQ(Messages(), std::vector<std::string>{"Error: You do not have proper rights"});
    EXPECT_TRUE(installer_.ExtractDriver(true)); // the check needs no system directory
}

TEST_F(Extraction, ADriverFileWrittenOnlyInPartIsRemoved) {
    files_.LimitWrites(4096, error::diskFull);
    EXPECT_FALSE(installer_.ExtractDriver(false));
    EXPECT_EQ(Messages(), std::vector<std::string>{"Error: Unable to write Tavro.sys"});
    EXPECT_FALSE(files_.HasFile(driverFile));
    EXPECT_EQ(files_.OpenFiles(), 0u);
}

// ---- "Version" and "Sum" ----------------------------------------------------------------------

TEST_F(Extraction, RecordsVersionAndTheSumOfTheFirstPieceOnce) {
    settings_.version = 303;
    settings_.sum = 1;
    ASSERT_TRUE(installer_.ExtractDriver(true));
    EXPECT_EQ(settings_.version, 304u);
    const uint32_t firstSum = SumOf(program_, packageFirstPiece);
    EXPECT_EQ(settings_.sum, firstSum);
    // Only the first piece counts: the driver does not.
    EXPECT_NE(firstSum, SumOf(program_, program_.size()));

    // This build's values are recorded already: a changed file changes nothing.
    std::string changed = program_;
    changed[100] = static_cast<char>(changed[100] + 1);
    SetProgram(changed);
    ASSERT_TRUE(installer_.ExtractDriver(true));
    EXPECT_EQ(settings_.sum, firstSum);
}

TEST_F(Extraction, TheSumIsRecordedEvenWhenNoDriverIsFound) {
    SetProgram(HubImage(30001));
    EXPECT_FALSE(installer_.ExtractDriver(true));
    EXPECT_EQ(settings_.version, 304u);
    EXPECT_EQ(settings_.sum, SumOf(program_, 30001));
}

TEST(PackageSum, AddsLittleEndianWordsWithWrapAround) {
    const uint8_t ordered[] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(PackageSum(ordered, 4), 0x04030201u);
    const uint8_t wrapping[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00};
    EXPECT_EQ(PackageSum(wrapping, 8), 1u);
    // A last word of fewer than four bytes counts with zero high bytes.
    const uint8_t partial[] = {0x01, 0x00, 0x00, 0x00, 0x05, 0x01};
    EXPECT_EQ(PackageSum(partial, 6), 0x0106u);
    EXPECT_EQ(PackageSum(partial, 0), 0u);
}

TEST(PackageSignature, IsTheFirstWholeOccurrence) {
    const uint8_t bytes[] = {0x4D, 0x5A, 0x90, 0x01, 0x4D, 0x5A, 0x4D, 0x5A,
                             0x90, 0x00, 0x4D, 0x5A, 0x90, 0x00, 0x4D, 0x5A};
    EXPECT_EQ(FindDriverSignature(bytes, sizeof bytes), 6u);
    EXPECT_EQ(FindDriverSignature(bytes + 10, 4), 0u);
    // Cut short, or not there at all: the length comes back.
    EXPECT_EQ(FindDriverSignature(bytes, 9), 9u);
    EXPECT_EQ(FindDriverSignature(bytes + 14, 2), 2u);
    EXPECT_EQ(FindDriverSignature(bytes, 0), 0u);
}

} // namespace
} // namespace tavro::testing
