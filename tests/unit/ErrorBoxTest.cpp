#include <gtest/gtest.h>

#include "platform/ErrorCatalogue.h"

namespace p2 {
namespace {

TEST(ErrorBox, LaysOutNumberTagAndStandardText) {
    EXPECT_EQ(ErrorBoxText(53, "mMain-Main"),
              "ｴﾗｰNo. 53  【mMain-Main】\r\n\r\n" + StandardErrorText(53));
}

}  // namespace
}  // namespace p2
