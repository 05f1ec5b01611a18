// Every text the library leaves for SMSGetLastError, written once. The texts are the ones hosts
// have always compared against, so they are kept to the byte (UTF-8 here; handed out as GBK on
// Windows and in the host's codeset on POSIX).
#ifndef TIDEWIRE_BASE_ERRORTEXTS_H
#define TIDEWIRE_BASE_ERRORTEXTS_H

namespace tidewire {

#define TIDEWIRE_ERROR_TEXTS(X)                                       \
    X(AlreadyStarted, "服务已经启动(或还没有停止成功)，不能再次启动") \
    X(PortOpenFailed, "串口打开错误")                                 \
    X(NoDeviceOrBaud, "未连接好设备或者波特率错误")                   \
    X(UnknownModule, "无法识别的模块类型")                            \
    X(NoDeviceOrSim, "未连接好设备或者没有SIM卡")                     \
    X(WorkerNotStarted, "启动接收线程失败")                           \
    X(ServiceCentreTooLong, "短信中心号码长度不能大于19")             \
    X(ServiceCentreMalformed, "短信中心号码格式错误")                 \
    X(NotStarted, "服务器未启动")                                     \
    X(TextLength, "发送的内容大于255或小于等于0")                     \
    X(NumberLength, "发送的手机号码大于31或小于等于0")                \
    X(NumberIllegal, "发送的手机号码含有非法字符")                    \
    X(TextIllegal, "发送的内容含有非法控制字符")                      \
    X(LegacyEmpty, "待发送内容或对方号码不能为空")                    \
    X(LegacyTooLong, "待发送内容或对方号码过长")                      \
    X(InitCnmi666, "初始化Modem(设置AT+CNMI=1,0,0,0,1)发生错误")      \
    X(InitCmgf666, "初始化Modem(设置AT+CMGF=0)发生错误")              \
    X(InitCpms666, "初始化Modem(设置AT+CPMS=ME)发生错误")             \
    X(InitServiceCentre, "设置短信中心号码发生错误")                  \
    X(InitCnmi870, "初始化Modem(设置AT+CNMI=2,2,0,0,0)发生错误")      \
    X(InitCpms870, "初始化Modem(设置AT+CPMS=MT)发生错误")             \
    X(InitSmsType860, "初始化Modem(设置at$smstype=1)发生错误")        \
    X(InitMtRptType860, "初始化Modem(设置at$mtrpttype=0)发生错误")    \
    X(InitPortFailed, "初始化Modem时串口发生错误")                    \
    X(SendException, "发送模块发生异常")                              \
    X(ReceiveException, "接收模块发生异常")                           \
    X(SingleByteTooLong, "英文短信，长度不能大于140")                 \
    X(SingleByteModeFailed, "以英文发送时，AT+CMGF=1设置失败")        \
    X(MultiByteTooLong, "中文短信长度不能大于70")                     \
    X(MultiByteModeFailed, "以中文发送时，AT+CMGF=0设置失败")         \
    X(NumberTooLong, "发送的手机号码过长")                            \
    X(SingleByte870ModeFailed, "以英文发送时，AT+ZMSGL=1, 2设置失败") \
    X(MultiByte870ModeFailed, "以中文发送时，AT+ZMSGL=6,4设置失败")

enum class ErrorText {
#define TIDEWIRE_ERROR_ENUM(name, text) name,
    TIDEWIRE_ERROR_TEXTS(TIDEWIRE_ERROR_ENUM)
#undef TIDEWIRE_ERROR_ENUM
};

// The UTF-8 text of an error.
const char* ErrorTextUtf8(ErrorText error);

}  // namespace tidewire

#endif
