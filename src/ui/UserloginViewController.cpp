#include "ui/UserloginViewController.h"

#include "sync/SyncEngine.h"

#include "BuildInfo.h"
#include "support/Md5.h"
#include "sync/AccountRequests.h"
#include "sync/MqttManager.h"
#include "sync/SyncServer.h"
#include "ui/BrokerAddressField.h"
#include "ui/Sheets.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkReply>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

// Read when shown, not at start-up, so that they follow the interface language.
QString confirmText()
{
    return QCoreApplication::translate("UserloginViewController", "确认");
}

QString understoodText()
{
    return QCoreApplication::translate("UserloginViewController", "知道了");
}

bool succeeded(const RequestResult &result, const std::optional<RequestError> &error)
{
    return !error && result && RequestManager::replyCode(*result) == 0;
}

bool hasCode(const RequestResult &result, qint64 code)
{
    return result && RequestManager::replyCode(*result) == code;
}

// Why a request of the pane got no usable answer, as far as the user can act on it.
enum class Failure { Refused, Unreachable, Untrusted, Busy, ServiceError };

Failure failureOf(int status, const std::optional<RequestError> &error)
{
    const bool transport = error && error->domain == QLatin1String("QNetworkReply");
    if (transport && error->code == QNetworkReply::SslHandshakeFailedError)
        return Failure::Untrusted;
    if (status == RequestManager::kNoResponse)
        return Failure::Unreachable;
    if (status == 429)
        return Failure::Busy;
    if (status >= 500 || (status >= 300 && status != 401 && status != 403))
        return Failure::ServiceError;
    return Failure::Refused;
}

// The sheet for a failure that is not the service's answer about the account itself.
std::optional<Sheets::Alert> connectionAlert(Failure failure, int status)
{
    switch (failure) {
    case Failure::Untrusted:
        return Sheets::Alert{
            QCoreApplication::translate("UserloginViewController", "无法验证服务器的证书"),
            QCoreApplication::translate("UserloginViewController",
                                        "服务器的证书不受信任。如果这是使用自己 CA 的自建服务，"
                                        "请在“CA 证书”一栏填写该 CA 证书（PEM）文件的路径。"),
            {confirmText()}};
    case Failure::Unreachable:
        return Sheets::Alert{QCoreApplication::translate("UserloginViewController", "无法连接到同步服务器"),
                             QCoreApplication::translate("UserloginViewController",
                                                         "请检查网络连接和“服务器”一栏的地址，然后重试。"),
                             {confirmText()}};
    case Failure::Busy:
        return Sheets::Alert{QCoreApplication::translate("UserloginViewController", "尝试次数过多"),
                             QCoreApplication::translate("UserloginViewController", "请稍后再试。"),
                             {confirmText()}};
    case Failure::ServiceError:
        return Sheets::Alert{
            QCoreApplication::translate("UserloginViewController", "同步服务器暂时无法处理请求"),
            QCoreApplication::translate("UserloginViewController",
                                        "服务器返回了错误（HTTP %1），请稍后再试。")
                .arg(status),
            {confirmText()}};
    case Failure::Refused:
        break;
    }
    return std::nullopt;
}

} // namespace

UserloginViewController::UserloginViewController(SyncEngine &sync, QWidget *parent)
    : QWidget(parent)
    , m_sync(sync)
    , m_selectPopUpButton(new QComboBox(this))
    , m_serverField(new QLineEdit(this))
    , m_brokerField(BrokerAddressField::create(this))
    , m_caFileField(new QLineEdit(this))
    , m_nameField(new QLineEdit(this))
    , m_pwdField(new QLineEdit(this))
    , m_repeatField(new QLineEdit(this))
    , m_repeatLabel(new QLabel(tr("确认密码："), this))
    , m_loginButton(new QPushButton(this))
    , m_login(std::make_shared<LoginRequestManager>())
    , m_regis(std::make_shared<RegisterRequestManager>())
    , m_findPwdManager(std::make_shared<FindPwdRequestManager>())
{
    setObjectName(QStringLiteral("UserloginViewController"));
    m_selectPopUpButton->setObjectName(QStringLiteral("selectPopUpButton"));
    m_serverField->setObjectName(QStringLiteral("serverField"));
    m_caFileField->setObjectName(QStringLiteral("caFileField"));
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_pwdField->setObjectName(QStringLiteral("pwdField"));
    m_loginButton->setObjectName(QStringLiteral("loginButton"));

    m_selectPopUpButton->addItems({tr("登录"), tr("注册"), tr("找回密码")});
    // A self-hoster types the address once; the environment, when it names one, decides.
    m_serverField->setPlaceholderText(QLatin1String(BuildInfo::apiUrl));
    if (SyncServer::isAddressFromEnvironment()) {
        m_serverField->setText(SyncServer::baseURL());
        m_serverField->setEnabled(false);
        m_serverField->setToolTip(tr("由环境变量 QUILLET_API_URL 指定"));
    } else {
        m_serverField->setText(SyncServer::storedAddress());
        m_serverField->setToolTip(tr("同步服务的地址，例如 https://sync.example.org；留空则使用默认服务"));
    }
    m_caFileField->setPlaceholderText(tr("系统证书"));
    if (SyncServer::isCAFileFromEnvironment()) {
        m_caFileField->setText(SyncServer::caFile());
        m_caFileField->setEnabled(false);
        m_caFileField->setToolTip(tr("由环境变量 QUILLET_CA_FILE 指定"));
    } else {
        m_caFileField->setText(SyncServer::storedCAFile());
        m_caFileField->setToolTip(tr("自建服务使用自己的 CA 时，填写该 CA 证书（PEM）文件的路径"));
    }
    m_nameField->setPlaceholderText(tr("邮箱"));
    m_pwdField->setPlaceholderText(tr("密码"));
    m_pwdField->setEchoMode(QLineEdit::Password);
    m_repeatField->setObjectName(QStringLiteral("repeatField"));
    m_repeatField->setPlaceholderText(tr("再次输入密码"));
    m_repeatField->setEchoMode(QLineEdit::Password);
    m_nameField->installEventFilter(this);
    m_pwdField->installEventFilter(this);
    m_repeatField->installEventFilter(this);
    // Return in any field of the form submits it, as the button does.
    for (QLineEdit *field : {m_nameField, m_pwdField, m_repeatField})
        connect(field, &QLineEdit::returnPressed, m_loginButton, &QPushButton::click);
    connect(m_selectPopUpButton, &QComboBox::currentIndexChanged, this,
            &UserloginViewController::modeChanged);
    connect(m_loginButton, &QPushButton::clicked, this, &UserloginViewController::login);
    auto *form = new QFormLayout;
    form->addRow(tr("服务器："), m_serverField);
    form->addRow(tr("消息服务器："), m_brokerField);
    form->addRow(tr("CA 证书："), m_caFileField);
    form->addRow(QString(), m_selectPopUpButton);
    form->addRow(tr("邮箱："), m_nameField);
    form->addRow(tr("密码："), m_pwdField);
    form->addRow(m_repeatLabel, m_repeatField);
    form->addRow(QString(), m_loginButton);

    m_selectPopUpButton->setCurrentIndex(SignIn);
    modeChanged(SignIn);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(60, 40, 60, 40);
    layout->addStretch();
    layout->addLayout(form);
    layout->addStretch();
}

UserloginViewController::~UserloginViewController() = default;

void UserloginViewController::modeChanged(int mode)
{
    // A mistyped password at registration would lock the new account out: it is typed twice.
    m_repeatField->setVisible(mode == Register);
    m_repeatLabel->setVisible(mode == Register);
    m_repeatField->clear();
    switch (mode) {
    case Register:
        m_loginButton->setText(tr("点击注册"));
        m_pwdField->setEnabled(true);
        break;
    case FindPassword:
        m_loginButton->setText(tr("找回密码"));
        m_pwdField->setEnabled(false);
        m_nameField->setFocus();
        break;
    default:
        m_loginButton->setText(tr("点击登录"));
        m_pwdField->setEnabled(true);
        break;
    }
}

bool UserloginViewController::isValidEmail(const QString &email)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,4}$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern.match(email).hasMatch();
}

bool UserloginViewController::acceptServiceSettings()
{
    if (m_serverField->isEnabled()
        && !SyncServer::setStoredAddress(m_sync.settings(), m_serverField->text())) {
        Sheets::beginSheet(this, {tr("服务器地址格式存在问题，请输入以 http:// 或 https:// 开头的地址"),
                                  QString(),
                                  {confirmText()}});
        return false;
    }
    if (!BrokerAddressField::accept(this, m_brokerField, m_sync.settings()))
        return false;
    if (m_caFileField->isEnabled()
        && !SyncServer::setStoredCAFile(m_sync.settings(), m_caFileField->text())) {
        Sheets::beginSheet(
            this, {tr("无法读取 CA 证书文件，请填写 PEM 格式证书文件的路径"), QString(), {confirmText()}});
        return false;
    }
    // A notice connection kept while signed out (after a wake) follows a moved service or CA.
    m_sync.notices().reconnectIfMoved();
    return true;
}

void UserloginViewController::login()
{
    const int mode = m_selectPopUpButton->currentIndex();
    if (m_nameField->text().isEmpty())
        return;
    if (mode != FindPassword && m_pwdField->text().isEmpty())
        return;
    if (mode == Register && m_repeatField->text() != m_pwdField->text()) {
        Sheets::beginSheet(this, {tr("两次输入的密码不一致"), tr("请重新输入密码。"), {confirmText()}});
        m_repeatField->clear();
        m_repeatField->setFocus();
        return;
    }
    if (!acceptServiceSettings())
        return;
    const QString email = m_nameField->text().remove(QLatin1Char(' '));
    if (!isValidEmail(email)) {
        Sheets::beginSheet(this, {tr("邮箱格式存在问题，请输入正确的邮箱"), QString(), {confirmText()}});
        return;
    }
    switch (mode) {
    case Register:
        registerAccount(email);
        break;
    case FindPassword:
        findPassword(email);
        break;
    default:
        signIn(email);
        break;
    }
}

void UserloginViewController::signIn(const QString &email)
{
    m_loginButton->setEnabled(false);
    m_login->setUser(email);
    m_login->setPasswd(m_pwdField->text());
    m_login->request(
        m_sync,
        [this, email](const RequestResult &result, int status, const std::optional<RequestError> &error) {
            m_loginButton->setEnabled(true);
            // On success the account is stored; its sign-in notice makes the window show the
            // signed-in pane and rebuild the status menu.
            if (succeeded(result, error))
                return;
            if (showConnectionFailure(status, error))
                return;
            Sheets::beginSheet(
                this, {tr("用户名或密码错误"), tr("确认下面邮箱？\n%1").arg(email), {confirmText()}});
        },
        this);
}

void UserloginViewController::registerAccount(const QString &email)
{
    const QString passwordHash = md5_hex(m_pwdField->text());
    Sheets::beginSheet(
        this,
        {tr("确认邮箱：%1").arg(email),
         tr("邮箱将用于您找回密码等其他服务，请您务必谨慎填写。"),
         {tr("确认注册"), tr("取消")}},
        [this, email, passwordHash](int returnCode) {
            if (returnCode != Sheets::FirstButtonReturn)
                return;
            m_loginButton->setEnabled(false);
            m_regis->setUsername(email);
            m_regis->setPwdHash(passwordHash);
            m_regis->request(
                m_sync,
                [this, email](const RequestResult &result, int status,
                              const std::optional<RequestError> &error) {
                    m_loginButton->setEnabled(true);
                    // On success the account is stored and the window shows the signed-in pane.
                    if (succeeded(result, error))
                        return;
                    if (hasCode(result, AccountCodes::emailTaken)) {
                        Sheets::beginSheet(
                            this,
                            {tr("邮箱：%1已注册，请更换其他邮箱").arg(email), QString(), {understoodText()}});
                        return;
                    }
                    if (showConnectionFailure(status, error))
                        return;
                    Sheets::beginSheet(this, {tr("注册失败"),
                                              status == 403 ? tr("该服务器不接受新的注册。")
                                                            : tr("服务器没有接受这次注册，请稍后再试。"),
                                              {confirmText()}});
                },
                this);
        });
}

void UserloginViewController::findPassword(const QString &email)
{
    Sheets::beginSheet(
        this,
        {tr("确认邮箱：%1").arg(email),
         tr("将向此邮箱发送验证邮件，请确认邮箱是否正确？"),
         {confirmText(), tr("取消")}},
        [this, email](int returnCode) {
            if (returnCode != Sheets::FirstButtonReturn)
                return;
            m_loginButton->setEnabled(false);
            m_findPwdManager->setUserEmail(email);
            m_findPwdManager->request(
                m_sync,
                [this, email](const RequestResult &result, int status,
                              const std::optional<RequestError> &error) {
                    m_loginButton->setEnabled(true);
                    if (error && showConnectionFailure(status, error))
                        return;
                    if (succeeded(result, error)) {
                        Sheets::beginSheet(this, {tr("发送成功"),
                                                  tr("已发送邮件到 %1, "
                                                     "请到邮箱查收，注意：某些邮件服务器会错将Quillet邮件"
                                                     "当作垃圾邮件，请注意查看垃圾邮箱。")
                                                      .arg(email),
                                                  {tr("好的")}});
                    } else if (hasCode(result, AccountCodes::emailUnknown)) {
                        Sheets::beginSheet(this,
                                           {tr("邮箱：%1不存在").arg(email), QString(), {understoodText()}});
                    }
                },
                this);
        });
}

bool UserloginViewController::showConnectionFailure(int status, const std::optional<RequestError> &error)
{
    const Failure failure = failureOf(status, error);
    const std::optional<Sheets::Alert> alert = connectionAlert(failure, status);
    if (!alert)
        return false;
    Sheets::beginSheet(this, *alert, [this, failure](int) {
        // The field that can make the certificate trusted is where the user goes next, once
        // the window has its focus back from the sheet.
        if (failure == Failure::Untrusted && m_caFileField->isEnabled()) {
            QMetaObject::invokeMethod(
                m_caFileField,
                [field = m_caFileField] {
                    field->setFocus(Qt::OtherFocusReason);
                    field->selectAll();
                },
                Qt::QueuedConnection);
        }
    });
    return true;
}

bool UserloginViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *keyEvent = static_cast<QKeyEvent *>(event);
    const bool back = keyEvent->key() == Qt::Key_Backtab;
    if (keyEvent->key() != Qt::Key_Tab && !back)
        return QWidget::eventFilter(watched, event);
    // Tab goes round the e-mail, the password and, while registering, its repetition.
    QList<QLineEdit *> ring{m_nameField};
    if (m_pwdField->isEnabled())
        ring << m_pwdField;
    if (m_repeatField->isVisibleTo(this))
        ring << m_repeatField;
    const qsizetype at = std::max<qsizetype>(0, ring.indexOf(static_cast<QLineEdit *>(watched)));
    QLineEdit *next = ring.at((at + (back ? ring.size() - 1 : 1)) % ring.size());
    next->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    next->selectAll();
    return true;
}
