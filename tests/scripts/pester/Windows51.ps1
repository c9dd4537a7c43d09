# What a PowerShell text uses that Windows PowerShell 5.1 does not have, read
# from PowerShell's own syntax tree: one line per finding, none when the text
# runs on 5.1.
function Find-NewerThanWindowsPowerShell51 {
    param([string]$Text)
    $tokens = $null
    $errors = $null
    $ast = [System.Management.Automation.Language.Parser]::ParseInput($Text, [ref]$tokens, [ref]$errors)
    $findings = New-Object System.Collections.Generic.List[string]
    foreach ($e in $errors) { $findings.Add("parse error: $($e.Message)") }
    $L = 'System.Management.Automation.Language'
    # Commands and parameters added after 5.1 (a parameter name matches any
    # prefix the text writes of it).
    $newCommands = 'Get-Error', 'Test-Json', 'Join-String', 'Start-ThreadJob', 'Get-Uptime', 'ConvertTo-CliXml', 'ConvertFrom-Markdown', 'Remove-Alias', 'Clear-RecycleBin'
    $newParameters = @{
        'ForEach-Object' = 'Parallel', 'ThrottleLimit', 'AsJob'
        'ConvertTo-Json' = 'EscapeHandling', 'AsArray', 'EnumsAsStrings'
        'ConvertFrom-Json' = 'AsHashtable', 'Depth', 'NoEnumerate'
        'Join-Path' = 'AdditionalChildPath'
        'Get-Content' = 'AsByteStream'
        'Set-Content' = 'AsByteStream'
        'Add-Content' = 'AsByteStream'
        'Invoke-WebRequest' = 'SkipCertificateCheck', 'Authentication', 'Token', 'SslProtocol', 'SkipHeaderValidation'
        'Invoke-RestMethod' = 'SkipCertificateCheck', 'Authentication', 'Token', 'SslProtocol', 'SkipHeaderValidation'
        'Split-Path' = 'Extension', 'LeafBase'
        'Get-Date' = 'AsUTC', 'UnixTimeSeconds'
    }
    $aliases = @{ '%' = 'ForEach-Object'; 'foreach' = 'ForEach-Object' }
    $newVariables = 'PSStyle', 'IsWindows', 'IsLinux', 'IsMacOS', 'IsCoreCLR', 'PSNativeCommandArgumentPassing',
        'PSNativeCommandUseErrorActionPreference', 'EnabledExperimentalFeatures'
    $newTypes = 'System.Text.Json', 'System.HashCode', 'System.Range', 'System.Index', 'System.Half', 'System.DateOnly', 'System.TimeOnly'
    $newMembers = 'GetLastPInvokeError', 'SetLastPInvokeError', 'ProcessPath', 'ToHexString', 'GetRelativePath', 'IsWindows', 'IsLinux'
    foreach ($node in $ast.FindAll({ $true }, $true)) {
        $type = $node.GetType().Name
        switch ($type) {
            'TernaryExpressionAst' { $findings.Add("ternary operator ? : at line $($node.Extent.StartLineNumber)") }
            'PipelineChainAst' { $findings.Add("&& or || between pipelines at line $($node.Extent.StartLineNumber)") }
            'BinaryExpressionAst' {
                if ($node.Operator -eq 'QuestionQuestion') { $findings.Add("?? at line $($node.Extent.StartLineNumber)") }
                if ($node.Operator -in 'Ireplace', 'Creplace', 'Replace' -and $node.Right -is [System.Management.Automation.Language.ArrayLiteralAst] -and
                    @($node.Right.Elements | Where-Object { $_ -is [System.Management.Automation.Language.ScriptBlockExpressionAst] }).Count) {
                    $findings.Add("-replace with a script block at line $($node.Extent.StartLineNumber)")
                }
            }
            'AssignmentStatementAst' { if ([string]$node.Operator -eq 'QuestionQuestionEquals') { $findings.Add("??= at line $($node.Extent.StartLineNumber)") } }
            { $_ -in 'MemberExpressionAst', 'InvokeMemberExpressionAst', 'IndexExpressionAst' } {
                if ($node.NullConditional) { $findings.Add("?. or ?[] at line $($node.Extent.StartLineNumber)") }
                if ($type -ne 'IndexExpressionAst' -and $node.Member -is [System.Management.Automation.Language.StringConstantExpressionAst] -and
                    $node.Static -and $newMembers -contains $node.Member.Value) {
                    $findings.Add("$($node.Member.Value) (not in .NET Framework) at line $($node.Extent.StartLineNumber)")
                }
            }
            'PipelineAst' { if ($node.Background) { $findings.Add("& to run in the background at line $($node.Extent.StartLineNumber)") } }
            'ScriptBlockAst' { if ($null -ne $node.CleanBlock) { $findings.Add("clean block at line $($node.Extent.StartLineNumber)") } }
            'VariableExpressionAst' { if ($newVariables -contains $node.VariablePath.UserPath) { $findings.Add("`$$($node.VariablePath.UserPath) at line $($node.Extent.StartLineNumber)") } }
            { $_ -in 'TypeExpressionAst', 'TypeConstraintAst', 'StringConstantExpressionAst' } {
                $name = if ($type -eq 'StringConstantExpressionAst') { $node.Value } else { $node.TypeName.FullName }
                foreach ($newType in $newTypes) {
                    $short = ($type -ne 'StringConstantExpressionAst') -and ($name -like "$($newType.Substring(7))*")
                    if (($name -like "$newType*") -or $short) {
                        $findings.Add("$name (not in .NET Framework) at line $($node.Extent.StartLineNumber)")
                    }
                }
            }
            'CommandAst' {
                $command = $node.GetCommandName()
                if ($null -eq $command) { break }
                if ($aliases.ContainsKey($command)) { $command = $aliases[$command] }
                if ($newCommands -contains $command) { $findings.Add("$command at line $($node.Extent.StartLineNumber)") }
                foreach ($parameter in @($node.CommandElements | Where-Object { $_ -is [System.Management.Automation.Language.CommandParameterAst] })) {
                    foreach ($new in @($newParameters[$command])) {
                        if ($new -and $new.StartsWith($parameter.ParameterName, [System.StringComparison]::OrdinalIgnoreCase) -and $parameter.ParameterName.Length -ge 2) {
                            $findings.Add("$command -$new at line $($node.Extent.StartLineNumber)")
                        }
                    }
                }
                if ($command -in 'Out-File', 'Set-Content', 'Add-Content', 'Get-Content', 'Export-Csv') {
                    foreach ($element in $node.CommandElements) {
                        if ($element -is [System.Management.Automation.Language.StringConstantExpressionAst] -and $element.Value -in 'utf8NoBOM', 'utf8BOM') {
                            $findings.Add("-Encoding $($element.Value) at line $($node.Extent.StartLineNumber)")
                        }
                    }
                }
            }
        }
    }
    # Escapes added to double-quoted strings after 5.1.
    foreach ($token in $tokens) {
        if ($token.Kind -in 'StringExpandable', 'HereStringExpandable' -and $token.Text -match '`e|`u\{') {
            $findings.Add("escape $($Matches[0]) at line $($token.Extent.StartLineNumber)")
        }
    }
    return $findings.ToArray()
}
