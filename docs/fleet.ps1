<#
.SYNOPSIS
    Lists the start-up entries of many computers with bwcli, and switches one entry off on all of them.

.DESCRIPTION
    Copies nothing: each computer already has Bootwarden's folder (bwcli.exe beside Bootwarden.exe and its
    store) at the same place. PowerShell remoting (Invoke-Command, WinRM) runs bwcli there and brings back its
    output and exit code. Run from an account that is an administrator on the computers: remoting needs it, and
    only an administrator may change the entries of HKLM.

.EXAMPLE
    .\fleet.ps1 -ComputerName pc1, pc2, pc3
    .\fleet.ps1 -ComputerName (Get-Content computers.txt) -Disable 'Updater' -Location hkcu
#>
param(
    [Parameter(Mandatory)] [string[]] $ComputerName,
    # Where Bootwarden's folder is on every computer.
    [string] $BootwardenFolder = 'C:\Tools\Bootwarden',
    # The entry to switch off everywhere; without it the script only lists.
    [string] $Disable,
    [ValidateSet('hklm', 'hklm32', 'hkcu', 'startup')] [string] $Location
)

# Runs on each computer: bwcli writes UTF-8, which PowerShell must be told to read as such.
$runBwcli = {
    param($folder, [string[]] $arguments)
    [Console]::OutputEncoding = [System.Text.Encoding]::UTF8
    $output = & (Join-Path $folder 'bwcli.exe') @arguments 2>&1
    [pscustomobject]@{
        ExitCode = $LASTEXITCODE
        Output   = ($output | Where-Object { $_ -isnot [System.Management.Automation.ErrorRecord] }) -join "`n"
        Errors   = ($output | Where-Object { $_ -is [System.Management.Automation.ErrorRecord] }) -join "`n"
    }
}

# 1. Every entry of every computer in one table, with the computer's name.
$listed = Invoke-Command -ComputerName $ComputerName -ScriptBlock $runBwcli `
    -ArgumentList $BootwardenFolder, @('list', '--json') -ErrorAction Continue
$entries = foreach ($result in $listed) {
    if ($result.ExitCode -ne 0) {
        Write-Warning "$($result.PSComputerName): bwcli list ended with $($result.ExitCode): $($result.Errors)"
        continue
    }
    foreach ($entry in ($result.Output | ConvertFrom-Json).entries) {
        [pscustomobject]@{
            Computer    = $result.PSComputerName
            Name        = $entry.name
            Location    = $entry.location
            Starts      = $entry.starts
            CommandLine = $entry.commandLine
        }
    }
}
$entries | Sort-Object Computer, Location, Name | Format-Table -AutoSize

# 2. One entry switched off everywhere, each computer's exit code reported:
#    0 done (or switched off already), 1 no such entry there, 2 refused, 3 failed.
if ($Disable) {
    $arguments = @('disable', $Disable)
    if ($Location) { $arguments += @('--location', $Location) }
    $switched = Invoke-Command -ComputerName $ComputerName -ScriptBlock $runBwcli `
        -ArgumentList $BootwardenFolder, $arguments -ErrorAction Continue
    $switched | ForEach-Object {
        [pscustomobject]@{
            Computer = $_.PSComputerName
            ExitCode = $_.ExitCode
            Message  = if ($_.ExitCode -eq 0) { $_.Output } else { $_.Errors }
        }
    } | Sort-Object Computer | Format-Table -AutoSize
    # Computers that could not be reached at all appear as errors of Invoke-Command above.
}
