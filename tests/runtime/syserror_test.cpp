// The system-error texts and the errno mapping.
#include <gtest/gtest.h>

#include <cerrno>

#include "runtime/lasterror.h"
#include "runtime/syserror.h"

using namespace rtl;

TEST(SysError, EveryNumberTheProjectProducesHasAText) {
  for (uint32_t e : {2u, 3u, 5u, 6u, 19u, 21u, 31u, 32u, 87u, 112u, 206u, 995u, 996u, 997u, 1167u})
    EXPECT_FALSE(SysErrorMessage(e).empty()) << e;
  EXPECT_TRUE(SysErrorMessage(123456).empty());
}

TEST(SysError, SystemErrorTextComposition) {
  EXPECT_EQ(SystemErrorText(87), u"Erreur système.  Code : 87.\r\nParamètre incorrect.");
  EXPECT_EQ(SystemErrorText(0), u"Un appel à une fonction du système d'exploitation a échoué");
}

TEST(SysError, ErrnoMapping) {
  struct Case {
    int err;
    uint32_t win;
  } cases[] = {{ENOENT, 2},   {ENOTDIR, 3}, {EACCES, 5}, {EPERM, 5},  {EISDIR, 5},    {EBUSY, 5},
               {EBADF, 6},    {EROFS, 19},  {EINVAL, 87}, {ENOSPC, 112}, {ENAMETOOLONG, 206},
               {EIO, 1167},   {ECANCELED, 995}, {EXDEV, 31}};
  for (const auto& c : cases) EXPECT_EQ(WinErrorFromErrno(c.err), c.win) << c.err;
  EXPECT_EQ(SetLastErrorFromErrno(ENOENT), 2u);
  EXPECT_EQ(GetLastError(), 2u);
}
