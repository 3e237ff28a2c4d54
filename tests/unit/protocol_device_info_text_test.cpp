#include <gtest/gtest.h>

#include "protocol/device_info.h"

namespace {

uint16_t DosDate(int year, int month, int day)
{
    return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

TEST(DeviceInfoText, ModelNames)
{
    EXPECT_EQ(ModelText(209), "Стационарный сканер \"ЖЛФ\"");
    EXPECT_EQ(ModelText(150), "Ручной сканер \"Pellar II\"");
    EXPECT_EQ(ModelText(207), "Встраиваемый сканер \"Tolvan+ v3\"");
    EXPECT_EQ(ModelText(99), "Неизвестная модель (99)");
}

TEST(DeviceInfoText, VersionsAndSerials)
{
    EXPECT_EQ(VersionText(0x0103), "1.3");
    EXPECT_EQ(VersionText(0x0A00), "10.0");
    EXPECT_EQ(SerialText(0), "0");
    EXPECT_EQ(SerialText(4294967294u), "4294967294");
    EXPECT_EQ(SerialText(0xFFFFFFFFu), "-");
}

TEST(DeviceInfoText, DatesAreShownAsStoredWithoutShift)
{
    EXPECT_EQ(DateText(DosDateToFileTime(DosDate(2024, 3, 15))), "15.03.2024");
    EXPECT_EQ(DateText(DosDateToFileTime(DosDate(1980, 1, 1))), "01.01.1980");
    EXPECT_EQ(DateText(DosDateToFileTime(DosDate(2107, 12, 31))), "31.12.2107");
    EXPECT_EQ(DateText(DosDateToFileTime(DosDate(2024, 2, 29))), "29.02.2024");
}

TEST(DeviceInfoText, ImpossibleDatesShowDash)
{
    EXPECT_EQ(DosDateToFileTime(DosDate(2024, 0, 10)), kInvalidFileTime);
    EXPECT_EQ(DosDateToFileTime(DosDate(2024, 13, 10)), kInvalidFileTime);
    EXPECT_EQ(DosDateToFileTime(DosDate(2023, 2, 29)), kInvalidFileTime);
    EXPECT_EQ(DosDateToFileTime(DosDate(2024, 4, 0)), kInvalidFileTime);
    EXPECT_EQ(DosDateToFileTime(0xFFFF), kInvalidFileTime);   // an erased block
    EXPECT_EQ(DateText(kInvalidFileTime), "-");
}

TEST(DeviceInfoText, FullTextWithAndWithoutApplicationPart)
{
    CDeviceInfo info;
    info.modelCode = 150;
    info.serialNumber = 1234567;
    info.productionDate = DosDateToFileTime(DosDate(2024, 3, 15));
    info.hwVersionAtmega = 0x0100;
    info.hwVersionBlackfin = 0x0200;
    info.loaderVersionAtmega = 0x0101;
    info.loaderVersionBlackfin = 0x0104;
    info.appVersionAtmega = 0x0203;
    info.appVersionBlackfin = 0x0306;
    info.appVersionBlackfinExt = 0x0011;
    info.applicationRead = true;
    EXPECT_EQ(DeviceInfoText(info),
              "Тип устройства\t\t\t: Ручной сканер \"Pellar II\"\r\n"
              "Заводской номер\t\t\t: 1234567\r\n"
              "Дата производства (дд.мм.гггг)\t: 15.03.2024\r\n"
              "Версии \"железа\"\r\n"
              "\tATmega\t\t\t: 1.0\r\n"
              "\tBlackfin\t\t\t: 2.0\r\n"
              "Версии загрузчиков\r\n"
              "\tATmega\t\t\t: 1.1\r\n"
              "\tBlackfin\t\t\t: 1.4\r\n"
              "Версии рабочих программ\r\n"
              "\tATmega\t\t\t: 2.3\r\n"
              "\tBlackfin\t\t\t: 3.6\r\n"
              "\tBlackfin (расш.)\t\t: 0.17\r\n");

    info.applicationRead = false;
    const std::string text = DeviceInfoText(info);
    EXPECT_NE(text.find("Заводской номер\t\t\t: ?\r\n"), std::string::npos);
    EXPECT_NE(text.find("(дд.мм.гггг)\t: ?\r\n"), std::string::npos);
    EXPECT_NE(text.find("\tBlackfin (расш.)\t\t: ?\r\n"), std::string::npos);
    EXPECT_NE(text.find("\tATmega\t\t\t: 1.1\r\n"), std::string::npos);   // loader part stays
}

}  // namespace
