#include "CodeSize.h"
#include "ProductRules.h"

namespace torvane::manager {

qint64 shrinkCode(qint64 codigo, int oldSize, int newSize)
{
    return rules::cutCode(codigo, oldSize, newSize);
}

BarcodeLabels layoutBarcodeLabels(const QString &prefix1, const QString &pluCode, bool total,
                                  const QString &dv, int prefixoLeft)
{
    BarcodeLabels l;
    l.peso = total ? QStringLiteral("TTTTT") : QStringLiteral("PPPPP");
    l.prefixo = prefix1 + pluCode.left(1);
    l.codigo = pluCode.mid(1, 5);
    l.dv = dv;
    l.prefixoLeft = prefixoLeft;
    l.codigoLeft = l.prefixoLeft + kBarcodeCharWidth * int(l.prefixo.size());
    l.pesoLeft = l.codigoLeft + kBarcodeCharWidth * int(l.codigo.size());
    l.dvLeft = l.pesoLeft + kBarcodeCharWidth * int(l.peso.size());
    return l;
}

QString barcodeHelpText()
{
    return QStringLiteral(
        "Sobre o Código de Barras:\n\nO código de barras é composto por 13 dígitos\n"
        "( ABCCCCCTTTTD ou ABCCCCCPPPPPD ), sendo:\n\n"
        "AB - Préfixo do código de barras ( um dígito se o tamanho do código\n"
        "do produto for 6 e dois digitos se o tamanho for 4 ou 5 )\n\n"
        "CCCCCC - Código do produto ( quatro, cinco ou seis dígitos )\n"
        "Se o código for com quatro dígito, o quinto dígito será sempre zero.\n\n"
        "TTTTT - Total a Pagar (escolhido na opção imprimir)\nOu\n"
        "PPPPP - Peso (escolhido na opção imprimir)\n\n"
        "D - Digito verificador calculado automaticamente");
}

} // namespace torvane::manager
