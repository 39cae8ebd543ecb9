// The process port as every implementation must answer: the whole line handed over, no
// wait, and 53 or 70 when the program cannot be started.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "contracts/ContractSupport.h"
#include "platform/ports/Process.h"

namespace p2::contract {

template <class World>
class ProcessContract : public ::testing::Test {
  protected:
    static std::string Quoted(const std::string& path) {
        std::string text(1, '"');
        text += path;
        text += '"';
        return text;
    }
    int32_t StartError(const std::string& commandLine) {
        return ErrorOf([&] { world.process().Shell(commandLine, kNormalFocus); });
    }
    World world;
};

TYPED_TEST_SUITE_P(ProcessContract);

TYPED_TEST_P(ProcessContract, MissingProgramRaises53) {
    auto& w = this->world;
    EXPECT_EQ(this->StartError(this->Quoted(w.Path("MSACCESS.EXE")) + " /Runtime \"x\""),
              kErrFileNotFound);
    EXPECT_EQ(this->StartError(this->Quoted(w.Path("no/MSACCESS.EXE"))), kErrFileNotFound);
}

TYPED_TEST_P(ProcessContract, FileThatIsNoProgramRaises70) {
    auto& w = this->world;
    w.Write("MSACCESS.EXE", "not a program");
    EXPECT_EQ(this->StartError(this->Quoted(w.Path("MSACCESS.EXE"))), kErrPermissionDenied);
}

// The argument text is given in the form each platform's recorder writes it back in.
TYPED_TEST_P(ProcessContract, StartsTheWholeLineWithoutWaiting) {
    auto& w = this->world;
    const std::string arguments = "/Runtime " + this->Quoted(w.Path("a b/t.mdb")) + " /User u";
    const int64_t id =
        w.process().Shell(this->Quoted(w.Recorder()) + " " + arguments, kNormalFocus);
    EXPECT_GT(id, 0);
    EXPECT_EQ(w.RecordedArguments(id), arguments);
}

REGISTER_TYPED_TEST_SUITE_P(ProcessContract, MissingProgramRaises53, FileThatIsNoProgramRaises70,
                            StartsTheWholeLineWithoutWaiting);

}  // namespace p2::contract
