#include <gtest/gtest.h>

#include <stdexcept>

#include "base/host.h"
#include "base/strings.h"
#include "protocol/scanner_protocol.h"
#include "sim/virtual_host.h"

namespace {

template <class Throw>
std::vector<CVirtualHost::ShownBox> Report(Throw thrower, int quiet = 0)
{
    CVirtualHost host;
    try {
        thrower();
    } catch (...) {
        ReportException(host, quiet, nullptr);
    }
    return host.Boxes();
}

}  // namespace

TEST(RunServicesCheck, ZeroPassesAndACodeBecomesItsText)
{
    EXPECT_NO_THROW(CheckResult(0));
    try {
        CheckResult(8);
        FAIL();
    } catch (const object_description& e) {
        EXPECT_EQ(e.Text(), "(8) Команда не поддерживается");
    }
    try {
        CheckResult(-1);
        FAIL();
    } catch (const test_exception& e) {
        EXPECT_EQ(e.Text(), "(-1) Нет связи");
    }
}

TEST(RunServicesCheck, TestExceptionFromATextId)
{
    EXPECT_EQ(test_exception(IDS_SPEED_CHANGE_FAILED).Text(), "Ошибка смены скорости");
    EXPECT_EQ(test_exception(std::string("готово")).Text(), "готово");
}

TEST(RunServicesReport, EachKindOfFailureGetsItsMessage)
{
    EXPECT_TRUE(Report([] { throw stop_exception(0); }).empty());

    auto boxes = Report([] { throw test_exception(IDS_STATE_CHANGE_FAILED); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Ошибка смены состояния");
    EXPECT_EQ(boxes[0].caption, LoadText(IDS_PROGRAM_NAME));
    EXPECT_EQ(boxes[0].kind, MessageBoxKind::Error);

    // A library's text never reaches the operator.
    boxes = Report([] { throw std::runtime_error("disk full"); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Внутренняя ошибка программы: операция не выполнена.");
    boxes = Report([] { throw std::bad_alloc(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Недостаточно памяти для выполнения операции.");

    boxes = Report([] { throw 42; });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Неизвестное исключение");
}

TEST(RunServicesReport, QuietSwallowsEverything)
{
    EXPECT_TRUE(Report([] { throw test_exception(IDS_STATE_CHANGE_FAILED); }, 1).empty());
    EXPECT_TRUE(Report([] { throw 42; }, 1).empty());
}

TEST(RunServicesReport, MessageOfTheExceptionInFlight)
{
    EXPECT_EQ(CurrentExceptionMessage(), "");
    try {
        throw stop_exception(0);
    } catch (...) {
        EXPECT_EQ(CurrentExceptionMessage(), "");
    }
    try {
        CheckResult(147);
    } catch (...) {
        EXPECT_EQ(CurrentExceptionMessage(), "(147) Ошибка записи во флеш-память");
    }
}

TEST(RunServicesPump, MessagesQueuedAheadOfAStopAreHandledFirst)
{
    CVirtualHost host;
    std::vector<int> order;
    host.PostMessage([&] { order.push_back(1); });
    host.RequestStop(3);
    host.PostMessage([&] { order.push_back(2); });
    try {
        host.PumpMessages();
        FAIL();
    } catch (const stop_exception& e) {
        EXPECT_EQ(e.Code(), 3);
    }
    EXPECT_EQ(order, std::vector<int>{1});
    host.PumpMessages();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}
